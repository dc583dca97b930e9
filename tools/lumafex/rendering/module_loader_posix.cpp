#include "rendering/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace lumafex::tool {

void* LoadedModule::OpenLibrary(const std::string& path, std::string& error) {
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        error = "cannot load module " + path + ": " + (why != nullptr ? why : "unknown error");
    }
    return library;
}

const void* LoadedModule::ExportedSymbol(void* library, const char* name) { return dlsym(library, name); }

void LoadedModule::CloseLibrary(void* library) { dlclose(library); }

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
