#include "module_loader.h"

#include <windows.h>

#include <cstring>

namespace lumafex::tool {

namespace {

std::string SystemErrorText(DWORD code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n > 0 && text != nullptr ? std::string(text, n) : std::string();
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    if (message.empty()) message = "error " + std::to_string(code);
    return message;
}

}  // namespace

std::unique_ptr<LoadedModule> LoadedModule::Open(const std::string& path, std::string& error) {
    std::unique_ptr<LoadedModule> module(new LoadedModule);
    const std::string file = path.find_first_of("/\\:") == std::string::npos ? ".\\" + path : path;
    HMODULE library = LoadLibraryA(file.c_str());
    if (library == nullptr) {
        error = "cannot load module " + path + ": " + SystemErrorText(GetLastError());
        return nullptr;
    }
    module->library_ = library;
    // _mod_descrip is a data export: its address is the descriptor itself.
    FARPROC symbol = GetProcAddress(library, "_mod_descrip");
    if (symbol == nullptr) {
        error = path + " is not a plug-in module: it exports no _mod_descrip";
        return nullptr;
    }
    const auto* descriptor = reinterpret_cast<const ModuleDescriptor*>(symbol);
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
    if (library_ != nullptr) FreeLibrary(static_cast<HMODULE>(library_));
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

// LUMAFEX3.P in the folder of lumafex.exe.
std::string DefaultModulePath() {
    std::string self(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (n == 0) return "LUMAFEX3.P";
        if (n < self.size()) {
            self.resize(n);
            break;
        }
        self.resize(self.size() * 2);
    }
    const std::size_t slash = self.find_last_of("\\/");
    self.erase(slash == std::string::npos ? 0 : slash + 1);
    return self + "LUMAFEX3.P";
}

}  // namespace lumafex::tool
