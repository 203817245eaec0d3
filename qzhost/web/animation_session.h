// The animation of a panel's values as the web page shows it: the scene's
// frame range, and for each value control the parameter block of its
// channel, a constant or keys in time, which the page edits whole. Module
// calls take the panel session's turn.
#pragma once

#include "qzhost/web/panel_session.h"

namespace qzhost {

class AnimationSession {
public:
    explicit AnimationSession(PanelSession &panel) : panel_(panel) {}

    // {"frames": {first, last, fps, width, height, pixelAspect}, "editTime": seconds,
    //  "channels": [{"id", "label", "block"}], "view": version}, where each
    // block is the parameter's saved form: {"channel", "value"} or
    // {"channel", "keys": [{"time", "value", "curve"?}]}.
    Json describe();

    // Puts the block (its "value" or "keys", without the channel, which the
    // control names) in place of the control's parameter, through a load of
    // the instance as a scene load would do it. A block a scene file could
    // not hold changes nothing and throws BadRequest with the loader's reason.
    Json setBlock(unsigned long id, Json block);

private:
    PanelSession &panel_;
};

}  // namespace qzhost
