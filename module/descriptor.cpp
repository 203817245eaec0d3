// The module's one exported symbol and the table of its two servers.
#include "filter/host_services.h"
#include "interface/panel.h"
#include "module/activate.h"

namespace vorlux {

HostServices hostServices{};

namespace {

void *moduleStartup() { return reinterpret_cast<void *>(static_cast<intptr_t>(HOST_STARTUP_RESULT)); }

void moduleShutdown(void *) {}

const ServerRecord kServers[] = {
    {.className = HOST_FILTER_CLASS, .name = "Vorlux", .activate = handlerActivate, .reserved = nullptr},
    {.className = HOST_INTERFACE_CLASS, .name = "Vorlux", .activate = interfaceActivate, .reserved = nullptr},
    {},
};

}  // namespace
}  // namespace vorlux

extern "C" __attribute__((visibility("default"))) const ModuleDescriptor _mod_descrip = {
    .magic = HOST_MODULE_MAGIC,
    .code2 = HOST_MODULE_CODE2,
    .code3 = HOST_MODULE_CODE3,
    .startup = vorlux::moduleStartup,
    .shutdown = vorlux::moduleShutdown,
    .servers = vorlux::kServers,
};
