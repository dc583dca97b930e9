// The module descriptor the host reads when it loads the module file: the
// only symbol the module exports.
#include "abi/host_interface.h"
#include "host/servers.h"
#include "pipeline/frame/thread_pool.h"

#if defined(_WIN32)
#define LUMAFEX_EXPORT __declspec(dllexport)
#else
#define LUMAFEX_EXPORT __attribute__((visibility("default")))
#endif

namespace {

void* Startup() noexcept {
    // Any non-null value tells the host that the module started.
    return reinterpret_cast<void*>(static_cast<uintptr_t>(4));
}

// The host calls this before it unloads the module, outside the loader's
// lock, so the pass workers can be joined here.
void Shutdown(void*) noexcept { lumafex::ShutdownThreadPool(); }

}  // namespace

extern "C" {
LUMAFEX_EXPORT extern ModuleDescriptor _mod_descrip;
ModuleDescriptor _mod_descrip = {
    lumafex::host::kModuleSync, lumafex::host::kModuleVersion, lumafex::host::kModuleMachine,
    Startup, Shutdown, lumafex::kServers,
};
}
