// The module's two servers, both named "Lumafex3": the image filter handler
// and the image filter interface (the settings dialog).
#pragma once

#include <cstdint>

#include "abi/host_interface.h"

namespace lumafex {

extern "C" int HandlerActivate(int32_t version, GlobalLookup global, void* local,
                               void* serverData);
extern "C" int InterfaceActivate(int32_t version, GlobalLookup global, void* local,
                                 void* serverData);

// The server list, ended by an entry of zeros.
extern const ServerRecord kServers[3];

}  // namespace lumafex
