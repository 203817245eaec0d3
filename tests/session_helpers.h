// What the panel session tests share: a scene of one Vorlux filter, and the
// value a session describes for one of its controls.
#pragma once

#include "qzhost/web/panel_session.h"

namespace qzhost {

inline SceneDocument oneVorluxFilter() {
    SceneDocument scene;
    scene.filters.emplace_back().module = VORLUX_MODULE_FILE;
    return scene;
}

// Null when the panel has no such control or it holds no value.
inline Json describedValue(PanelSession &session, unsigned long id) {
    const Json panel = session.describe();
    for (const Json &control : panel["controls"]) {
        if (control["id"] == id) return control.value("value", Json());
    }
    return nullptr;
}

}  // namespace qzhost
