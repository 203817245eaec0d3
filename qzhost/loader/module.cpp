#include "qzhost/loader/module.h"

#include <dlfcn.h>

#include <cstdio>

#include "qzhost/base/error.h"

namespace qzhost {
namespace {

std::string hex(int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

}  // namespace

LoadedModule::LoadedModule(const std::filesystem::path &file) : file_(file) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        throw HostError("module '" + file.string() + "': no such file");
    }
    // dlopen searches the library path for names without a slash.
    const std::string absolute = std::filesystem::absolute(file).string();
    handle_ = dlopen(absolute.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw HostError("module '" + file.string() + "' is not loadable: " + dlerror());
    try {
        descriptor_ = static_cast<const ModuleDescriptor *>(dlsym(handle_, "_mod_descrip"));
        if (!descriptor_) throw HostError("module '" + file.string() + "' has no _mod_descrip");
        checkDescriptor();
        startupResult_ = descriptor_->startup();
        if (!startupResult_) throw HostError("module '" + file.string() + "': start-up failed");
        readServers();
    } catch (...) {
        if (startupResult_) descriptor_->shutdown(startupResult_);
        dlclose(handle_);
        throw;
    }
}

LoadedModule::~LoadedModule() {
    descriptor_->shutdown(startupResult_);
    dlclose(handle_);
}

void LoadedModule::checkDescriptor() const {
    const ModuleDescriptor &d = *descriptor_;
    if (d.magic != HOST_MODULE_MAGIC || d.code2 != HOST_MODULE_CODE2 || d.code3 != HOST_MODULE_CODE3) {
        throw HostError("module '" + file_.string() + "' has wrong codes " + hex(d.magic) + " " + hex(d.code2) + " " +
                        hex(d.code3) + " (expected " + hex(HOST_MODULE_MAGIC) + " " + hex(HOST_MODULE_CODE2) + " " +
                        hex(HOST_MODULE_CODE3) + ")");
    }
    if (!d.startup || !d.shutdown || !d.servers) {
        throw HostError("module '" + file_.string() + "' has a descriptor with a null start-up, shutdown or server table");
    }
}

void LoadedModule::readServers() {
    for (const ServerRecord *record = descriptor_->servers;; ++record) {
        if (!record->className && !record->name && !record->activate && !record->reserved) return;
        if (servers_.size() == kMaxServers) {
            throw HostError("module '" + file_.string() + "' has no server table terminator within " +
                            std::to_string(kMaxServers) + " records");
        }
        if (!record->className || !record->name || !record->activate) {
            throw HostError("module '" + file_.string() + "' has a server record " + std::to_string(servers_.size()) +
                            " without class, name or activation");
        }
        servers_.push_back({record->className, record->name, record->activate});
    }
}

const ServerEntry *LoadedModule::findServer(std::string_view className, std::string_view name) const {
    for (const ServerEntry &entry : servers_) {
        if (entry.className == className && entry.name == name) return &entry;
    }
    return nullptr;
}

const ServerEntry &LoadedModule::server(std::string_view className, std::string_view name) const {
    if (const ServerEntry *entry = findServer(className, name)) return *entry;
    throw HostError("module '" + file_.string() + "' has no " + std::string(className) + " server named '" +
                    std::string(name) + "'");
}

}  // namespace qzhost
