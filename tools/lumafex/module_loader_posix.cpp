#include "module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <cstdlib>
#include <filesystem>

namespace lumafex::tool {

std::unique_ptr<LoadedModule> LoadedModule::Open(const std::string& path, std::string& error) {
    std::unique_ptr<LoadedModule> module(new LoadedModule);
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    module->library_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module->library_ == nullptr) {
        const char* why = dlerror();
        error = "cannot load module " + path + ": " + (why != nullptr ? why : "unknown error");
        return nullptr;
    }
    auto* descriptor = static_cast<const ModuleDescriptor*>(dlsym(module->library_, "_mod_descrip"));
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
    if (library_ != nullptr) dlclose(library_);
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

std::string DefaultModulePath() {
    // Beside the program (a build folder), then where an installation puts
    // it, then wherever LUMAFEX_MODULE says (a program copied elsewhere).
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::filesystem::path folder = ec ? std::filesystem::path(".") : self.parent_path();
    const std::filesystem::path beside = folder / "lumafex3.p";
    for (const std::filesystem::path& candidate :
         {beside, folder / ".." / "lib" / "lumafex" / "lumafex3.p"}) {
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate.lexically_normal().string();
    }
    const char* configured = std::getenv("LUMAFEX_MODULE");
    if (configured != nullptr && *configured != '\0') return configured;
    return beside.string();
}

}  // namespace lumafex::tool
