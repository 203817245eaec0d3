// "QZXPanel": form panels built from a module's controls table, data
// description and hint list, with the drawing table its previews paint
// through. The panels are the host's objects; whatever shows them (the web
// page of `qzhost panel`) reads them through Panel and calls the module's
// callbacks that the hints registered.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/abi.h"

namespace qzhost {

struct DragCallback {
    PreviewZoomFunc function = nullptr;
    int mode = 0;
};

struct ValueGuide {
    std::optional<long> minimum;
    std::optional<long> maximum;
    std::optional<long> step;
};

// Everything a hint list said, collected over every hint call.
struct PanelHints {
    std::string title;
    PanelChangeFunc changeNotify = nullptr;
    PanelDestroyFunc destroyNotify = nullptr;
    std::map<unsigned long, ButtonFunc> buttons;
    std::map<unsigned long, PreviewDrawFunc> previewDraw;
    std::map<unsigned long, DragCallback> previewDrag;
    std::map<unsigned long, std::vector<unsigned long>> groups;
    std::map<unsigned long, ValueGuide> guides;
    // Tags read that the host does not know; they were skipped by their counts.
    std::vector<intptr_t> unknownTags;
};

// A hint list longer than this many words is taken to have lost its end.
inline constexpr size_t kMaxHintWords = 4096;

// Reads a hint list into hints. Returns false when the list ran past
// kMaxHintWords without its terminating 0; what was read before stays.
bool readHints(const intptr_t *words, PanelHints &hints);

struct Control {
    unsigned long id;
    std::string label;
    std::string type;
};

// A preview raster: RGB bytes, row by row from the top-left corner.
struct Raster {
    Raster(int w, int h) : width(w), height(h), rgb(static_cast<size_t>(w) * h * 3) {}
    int width;
    int height;
    std::vector<uint8_t> rgb;
};

struct Panel {
    int type = 0;
    std::vector<Control> controls;
    std::vector<Control> data;
    PanelGetFunc get = nullptr;
    PanelSetFunc set = nullptr;
    PanelHints hints;
    std::unordered_map<unsigned long, void *> userData;
    void *instance = nullptr;
    // Counts the module's refresh requests; whoever shows the panel redraws
    // when it has moved on.
    unsigned refreshes = 0;

    const Control *control(unsigned long id) const;
};

class PanelStore {
public:
    PanelStore();
    ~PanelStore();
    const PanelService *table() const;

    Panel &get(void *handle) { return *static_cast<Panel *>(handle); }
    size_t liveCount() const { return panels_.size(); }

    // Tells the module the panel is going away, then releases it.
    void destroy(void *handle);

private:
    friend struct PanelCalls;
    std::unordered_map<Panel *, std::unique_ptr<Panel>> panels_;
};

}  // namespace qzhost
