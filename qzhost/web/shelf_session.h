// The preset shelf as the web page's drawer sees it, for the instance of one
// panel session: the presets it can take, and applying, renaming and
// deleting them. Module calls take the panel session's turn.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qzhost/presets/preset_name.h"
#include "qzhost/services/shelf.h"
#include "qzhost/web/panel_session.h"

namespace qzhost {

class ShelfSession {
public:
    explicit ShelfSession(PanelSession &panel) : panel_(panel) {}

    // Whether the host offers a shelf, whether it is open for the instance,
    // the presets it can take (open or not), those whose settings are the instance's now
    // ("current"), the last failure to add one, and the longest name it takes.
    Json describe();
    // A preset's thumbnail as stored: PNG bytes.
    std::vector<unsigned char> thumbnail(int64_t id);
    // Loads a preset through the module; the answer also carries "error"
    // when the module refused part of it.
    Json apply(int64_t id);
    // Names are taken through presetName(): trimmed, 1 to kMaxPresetName
    // characters of UTF-8 without control characters.
    Json rename(int64_t id, const std::string &name);
    Json remove(int64_t id);
    Json close();

private:
    // The instance's client on the shelf, or null without a shelf.
    ShelfClient *findClient() const;
    // The same; throws BadRequest without one. Asked before shelf(), which
    // is only there when the client is.
    ShelfClient &client() const;
    Shelf &shelf() const { return *panel_.host().shelf(); }

    PanelSession &panel_;
};

}  // namespace qzhost
