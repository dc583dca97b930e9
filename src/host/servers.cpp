#include "host/servers.h"

#include "host/dialog_session.h"
#include "host/handler.h"
#include "host/module.h"
#include "platform/module_handle.h"
#include "ui/settings_dialog.h"

namespace lumafex {

extern "C" int HandlerActivate(int32_t version, GlobalLookup global, void* local,
                               void*) {
    return ActivateHandler(TheModule(), version, global, static_cast<HandlerTable*>(local));
}

extern "C" int InterfaceActivate(int32_t version, GlobalLookup, void*, void*) {
    if (version != host::kInterfaceVersion) return host::kActivateBadVersion;
    Module& module = TheModule();
    // The dialog template and its menu are resources of this module file.
    module.instanceHandle = platform::FindModuleHandle();
    const DialogSession session(module);
    if (!ui::RunSettingsDialog(session.model())) return host::kActivateFailed;
    return host::kActivateOk;
}

const ServerRecord kServers[3] = {
    {host::kHandlerClass, host::kServerName, HandlerActivate},
    {host::kInterfaceClass, host::kServerName, InterfaceActivate},
    {nullptr, nullptr, nullptr},
};

}  // namespace lumafex
