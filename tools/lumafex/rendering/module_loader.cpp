#include "rendering/module_loader.h"

#include <cstring>

namespace lumafex::tool {

std::unique_ptr<LoadedModule> LoadedModule::Open(const std::string& path, std::string& error) {
    std::unique_ptr<LoadedModule> module(new LoadedModule);
    module->library_ = OpenLibrary(path, error);
    if (module->library_ == nullptr) return nullptr;
    // _mod_descrip is a data export: its address is the descriptor itself.
    const auto* descriptor =
        static_cast<const ModuleDescriptor*>(ExportedSymbol(module->library_, "_mod_descrip"));
    if (descriptor == nullptr) {
        error = path + " is not a plug-in module: it exports no _mod_descrip";
        return nullptr;
    }
    if (descriptor->sync != host::kModuleSync) {
        error = path + " is not a plug-in module: bad sync word in _mod_descrip";
        return nullptr;
    }
    if (descriptor->version != host::kModuleVersion) {
        error = path + ": unsupported module version " + std::to_string(descriptor->version);
        return nullptr;
    }
    module->descriptor_ = descriptor;
    if (descriptor->startup != nullptr) {
        module->startupData_ = descriptor->startup();
        if (module->startupData_ == nullptr) {
            module->descriptor_ = nullptr;
            error = path + ": the module's startup failed";
            return nullptr;
        }
    }
    return module;
}

LoadedModule::~LoadedModule() {
    if (descriptor_ != nullptr && descriptor_->shutdown != nullptr) {
        descriptor_->shutdown(startupData_);
    }
    if (library_ != nullptr) CloseLibrary(library_);
}

ActivateFunc LoadedModule::FindServer(const char* serverClass, const char* name) const {
    if (descriptor_ == nullptr || descriptor_->servers == nullptr) return nullptr;
    for (const ServerRecord* s = descriptor_->servers; s->serverClass != nullptr; ++s) {
        if (std::strcmp(s->serverClass, serverClass) == 0 && s->name != nullptr &&
            std::strcmp(s->name, name) == 0) {
            return s->activate;
        }
    }
    return nullptr;
}

}  // namespace lumafex::tool
