// The one settings record every instance shares, kept valid for as long as
// anything can reach it: allocated on first need, renewed by handler
// activation only while no instance holds it, and released when the last
// instance is destroyed.
#pragma once

#include <cstdint>

#include "platform/memory.h"
#include "settings/filter_settings.h"

namespace lumafex {

class SharedRecord {
public:
    // The record, allocated zero-filled if there is none; null only when the
    // memory cannot be obtained.
    FilterSettings* Obtain();

    // The record if one exists, else null.
    FilterSettings* Get() const;

    // Handler activation: a fresh zero-filled record, unless instances still
    // hold the current one, which then stays as it is. False when the memory
    // cannot be obtained.
    [[nodiscard]] bool Renew();

    // create: resets the record to its defaults and counts a new instance.
    // Returns the record (the instance), or null when it cannot be obtained.
    FilterSettings* CreateInstance();

    // destroy: the last instance releases the record's memory.
    void DestroyInstance();

    int32_t instanceCount() const { return instances_; }

private:
    platform::MemoryBlock block_;
    int32_t instances_ = 0;
};

}  // namespace lumafex
