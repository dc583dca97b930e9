// One table that describes every field of the settings record: its name,
// scene key (or none), create default and meaning. Defaults, scene lines,
// preset layout and the host program's listings are all driven from it.
#pragma once

#include <array>
#include <cstdint>

#include "settings/filter_settings.h"

namespace lumafex {

struct SettingsField {
    const char* name;        // the field's name, as used everywhere
    int32_t FilterSettings::*member;
    bool inScene;            // stored as a scene line under its name
    int32_t defaultValue;    // value written by create
    const char* meaning;     // one line for listings and help
};

// The fields in record order.
extern const std::array<SettingsField, kFilterSettingsFieldCount> kSettingsFields;

// The field of the given name, or null.
[[nodiscard]] const SettingsField* FindSettingsField(const char* name);

}  // namespace lumafex
