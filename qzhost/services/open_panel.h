// A filter instance's panel: the module's interface server activated for
// that instance, the panel it built through the host's panel service, and
// the operations whoever shows the panel needs. Module calls are not
// thread-safe: callers hold the host's lock on module calls around each.
#pragma once

#include "qzhost/loader/filter.h"
#include "qzhost/services/panel.h"
#include "qzhost/services/params.h"

namespace qzhost {

class Host;

class OpenPanel {
public:
    // Activates the interface server of the filter's name for its instance;
    // throws HostError when the module lacks it or the activation fails.
    OpenPanel(Host &host, const HostedFilter &filter);
    // Destroys the panel, which first notifies the module.
    ~OpenPanel();
    OpenPanel(const OpenPanel &) = delete;
    OpenPanel &operator=(const OpenPanel &) = delete;

    void *handle() const { return handle_; }
    const Panel &panel() const { return panel_; }
    // The instance the panel shows.
    void *instance() const { return panel_.instance; }

    // The first control the module draws as a preview, or null.
    const Control *preview() const;
    // Draws the preview into the raster, at the raster's size; throws
    // BadRequest when the panel has none.
    void draw(Raster &raster);
    // A click (a box of one point) or a dragged box on the preview, in the
    // pixels of its last draw. Throws BadRequest when it takes no gestures.
    void gesture(int x, int y, const int (&box)[4]);
    // Throws BadRequest when the control is no button.
    void press(unsigned long id);
    // The panel's change notification, with one of the HOST_PANEL_EVENT_ codes.
    void notify(int event);

    // Whether the control is of the type that holds a value.
    bool holdsValue(unsigned long id) const;
    // The animated parameter behind a value control; throws BadRequest when
    // the control holds no value. Owned by the host's parameter store.
    AnimatedParam &param(unsigned long id) const;
    // The control's value at the host's editing time; throws BadRequest when
    // it holds none.
    double value(unsigned long id) const;
    // Sets the value at the host's editing time and tells the module; returns
    // whether the module took it as a change. Throws BadRequest, changing
    // nothing, when the parameter cannot take it (see editValue).
    bool setValue(unsigned long id, double value);

    // Counts the module's refresh requests: whoever shows the panel redraws
    // when it has moved on.
    unsigned refreshes() const { return panel_.refreshes; }

private:
    Host &host_;
    void *handle_ = nullptr;
    Panel &panel_;
};

}  // namespace qzhost
