// Handler activation and the seven slots of the handler table. Every slot
// ignores its instance argument and works on the module's one record.
#pragma once

#include <cstdint>

#include "abi/host_interface.h"
#include "host/module.h"
#include "platform/messages.h"

namespace lumafex {

// Fills the table and prepares the shared record; returns an activation
// result (0 success, 1 unsupported version, 2 out of memory, 3 no "Host
// Display Info").
[[nodiscard]] int ActivateHandler(Module& module, int32_t version, GlobalLookup lookup, HandlerTable* table);

// The error text create reports when the record cannot be obtained.
inline constexpr const char* kCreateOutOfMemory = platform::kOutOfMemoryText;

}  // namespace lumafex
