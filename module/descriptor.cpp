// The module's one exported symbol and the table of its two servers.
#include "interface/panel.h"
#include "module/activate.h"
#include "module/services.h"

namespace vorlux {

HostServices hostServices{};

namespace {

void *moduleStartup() { return reinterpret_cast<void *>(static_cast<intptr_t>(HOST_STARTUP_RESULT)); }

void moduleShutdown(void *) {}

const ServerRecord kServers[] = {
    {HOST_FILTER_CLASS, "Vorlux", handlerActivate, nullptr},
    {HOST_INTERFACE_CLASS, "Vorlux", interfaceActivate, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace
}  // namespace vorlux

extern "C" __attribute__((visibility("default"))) const ModuleDescriptor _mod_descrip = {
    HOST_MODULE_MAGIC, HOST_MODULE_CODE2, HOST_MODULE_CODE3,
    vorlux::moduleStartup, vorlux::moduleShutdown, vorlux::kServers,
};
