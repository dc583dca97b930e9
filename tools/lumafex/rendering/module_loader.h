// Loads a module file the way the renderer does: opens the library, reads
// the exported _mod_descrip, checks its sync word and version, calls its
// startup entry and finds servers by class and name.
#pragma once

#include <memory>
#include <string>

#include "abi/host_interface.h"

namespace lumafex::tool {

class LoadedModule {
public:
    // Opens the module file; on failure returns null and says why in error.
    // A name without a folder is a file in the current folder, never one
    // looked up on the library search path.
    [[nodiscard]] static std::unique_ptr<LoadedModule> Open(const std::string& path, std::string& error);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    // The activation entry of the server, or null.
    [[nodiscard]] ActivateFunc FindServer(const char* serverClass, const char* name) const;

private:
    LoadedModule() = default;
    // The platform's half (module_loader_posix.cpp, module_loader_win32.cpp):
    // the library file opened as Open says (null, with error saying why, on
    // failure), the address of a symbol it exports (null if none), and the
    // library closed.
    static void* OpenLibrary(const std::string& path, std::string& error);
    static const void* ExportedSymbol(void* library, const char* name);
    static void CloseLibrary(void* library);

    void* library_ = nullptr;
    const ModuleDescriptor* descriptor_ = nullptr;
    void* startupData_ = nullptr;
};

// The module file installed or built beside this program.
std::string DefaultModulePath();

}  // namespace lumafex::tool
