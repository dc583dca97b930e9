#include "rendering/module_loader.h"

#include <windows.h>

#include <string>

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

void* LoadedModule::OpenLibrary(const std::string& path, std::string& error) {
    const std::string file = path.find_first_of("/\\:") == std::string::npos ? ".\\" + path : path;
    HMODULE library = LoadLibraryA(file.c_str());
    if (library == nullptr) error = "cannot load module " + path + ": " + SystemErrorText(GetLastError());
    return library;
}

const void* LoadedModule::ExportedSymbol(void* library, const char* name) {
    return reinterpret_cast<const void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void LoadedModule::CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

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
