// A filter instance's panel: the module's interface server activated for
// that instance, and the panel it built through the host's panel service.
#pragma once

#include "qzhost/loader/filter.h"
#include "qzhost/services/panel.h"

namespace qzhost {

class OpenPanel {
public:
    // Activates the interface server of the filter's name for its instance;
    // throws HostError when the module lacks it or the activation fails.
    explicit OpenPanel(const HostedFilter &filter);
    // Destroys the panel, which first notifies the module.
    ~OpenPanel();
    OpenPanel(const OpenPanel &) = delete;
    OpenPanel &operator=(const OpenPanel &) = delete;

    void *handle() const { return handle_; }
    Panel &panel() const;

private:
    void *handle_ = nullptr;
};

}  // namespace qzhost
