#include "qzhost/loader/interface.h"

#include "qzhost/services/host.h"
#include "qzhost/services/registry.h"

namespace qzhost {

OpenPanel::OpenPanel(const HostedFilter &filter) {
    const FilterServer &server = filter.server();
    const ServerEntry &entry = server.module().server(HOST_INTERFACE_CLASS, server.name());
    InterfaceRecord record{filter.instance(), nullptr, nullptr, nullptr};
    const int result = entry.activate(HOST_INTERFACE_VERSION, ServiceRegistry::global(), &record, nullptr);
    if (result != ACTIVATE_OK || !record.panel) {
        throw HostError("interface '" + server.name() + "' in '" + server.module().file().string() + "' " +
                        activationProblem(result == ACTIVATE_OK ? ACTIVATE_MISSING_SERVICE : result));
    }
    handle_ = record.panel;
}

OpenPanel::~OpenPanel() { Host::current().panels().destroy(handle_); }

Panel &OpenPanel::panel() const { return Host::current().panels().get(handle_); }

}  // namespace qzhost
