// The host a module runs in: it owns every service and installs the registry
// that the lookup answers from. There is one per process at a time, because
// the lookup and the service tables carry no context of their own.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>

#include "qzhost/services/channels.h"
#include "qzhost/services/images.h"
#include "qzhost/services/panel.h"
#include "qzhost/services/params.h"
#include "qzhost/services/registry.h"
#include "qzhost/services/shelf.h"

namespace qzhost {

class Host {
public:
    Host();
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // The host that is running, for the C functions of the service tables,
    // which get no context; only valid while one exists. Everything else is
    // handed its host.
    static Host &current();
    // The lookup handed to modules when their servers are activated.
    HostGlobal lookup() const { return ServiceRegistry::global(); }

    ServiceRegistry &registry() { return registry_; }
    ChannelTree &channels() { return channels_; }
    ParamStore &params() { return params_; }
    ImageStore &images() { return images_; }

    // Offers the preset shelf over the presets in that file. Throws HostError
    // when the file cannot serve as a shelf; the host then goes on without.
    void openShelf(const std::filesystem::path &file);
    // The shelf, or null when none is open.
    Shelf *shelf() { return shelf_.get(); }
    PanelStore &panels() { return panels_; }

    // The time, in seconds, at which parameter edits through the panel take
    // effect and values are shown. It is the panel's and no render's: frames
    // are rendered at their own times while the panel edits at this one.
    double editTime() const { return editTime_; }
    void setEditTime(double seconds) { editTime_ = seconds; }

    // Held around every call into a module but the per-pixel ones: modules are
    // not thread-safe, and the renderer, the panel's web server threads and
    // anything else that calls them must take turns.
    std::mutex &moduleCalls() { return moduleCalls_; }

    // What "QZ Scene Info 2" answers: the frame being rendered.
    void setFrameFormat(int width, int height, double pixelAspect);

private:
    ServiceRegistry registry_;
    ServiceRegistry::Installation installation_;
    ChannelTree channels_;
    ParamStore params_;
    ImageStore images_;
    std::unique_ptr<PresetStore> presetStore_;
    std::unique_ptr<Shelf> shelf_;
    SceneInfo sceneInfo_{};
    std::mutex moduleCalls_;
    PanelStore panels_;
    double editTime_ = 0.0;
};

}  // namespace qzhost
