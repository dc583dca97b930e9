#include "scenes/settings_block.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "process/closest_name.h"
#include "scenes/filters_by_name.h"
#include "scenes/line_block.h"
#include "scenes/null_drives.h"
#include "settings/scene_lines.h"
#include "settings/settings_fields.h"
#include "ui/dialog_fields.h"
#include "ui/field_limits.h"

namespace lumafex::tool {


FilterSettings SettingsFromLines(const std::vector<std::string>& lines) {
    FilterSettings s{};
    ResetToDefaults(s);
    StringLines source(lines);
    LoadSceneLines(s, source);
    return s;
}

std::vector<std::string> LinesFromSettings(const FilterSettings& settings) {
    StringLines sink;
    SaveSceneLines(settings, sink);
    return std::move(sink.lines);
}

std::pair<int64_t, int64_t> SettingRange(const SettingsField& field) {
    for (const ui::DialogField& row : ui::kDialogFields) {
        if (row.member == field.member && ui::HasLimits(row)) return {row.min, row.max};
    }
    return {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
}

std::vector<std::string> SettingsOutsideRange(const FilterSettings& settings) {
    std::vector<std::string> found;
    for (const SettingsField& f : kSettingsFields) {
        if (!f.inScene && std::strcmp(f.name, kNamedOnlySetting) != 0) continue;
        const auto [least, most] = SettingRange(f);
        const int32_t value = settings.*f.member;
        if (value < least || value > most) {
            found.push_back(std::string(f.name) + " " + std::to_string(value) + " is outside " +
                            std::to_string(least) + " to " + std::to_string(most));
        }
    }
    return found;
}

std::vector<std::string> EditsBeyondEffect(const std::vector<std::pair<std::string, int32_t>>& edits) {
    std::vector<std::string> found;
    for (const auto& [key, value] : edits) {
        const SettingsField* field = FindSettingsField(key.c_str());
        if (field == nullptr) continue;
        for (const ui::DialogField& row : ui::kDialogFields) {
            if (row.member != field->member || !ui::HasLimits(row)) continue;
            if (value < row.effectMin || value > row.effectMax) {
                const int32_t end = value < row.effectMin ? row.effectMin : row.effectMax;
                found.push_back(key + " " + std::to_string(value) + " acts as " + std::to_string(end) +
                                ": the image stops changing beyond " + std::to_string(row.effectMin) +
                                " to " + std::to_string(row.effectMax) + " (stored as given)");
            }
        }
    }
    return found;
}

std::vector<std::pair<std::string, int32_t>> ParseEdits(const std::vector<std::string>& edits) {
    std::vector<std::pair<std::string, int32_t>> parsed;
    for (const std::string& edit : edits) {
        const std::size_t eq = edit.find('=');
        if (eq == std::string::npos) throw std::invalid_argument(edit + ": expected KEY=VALUE");
        const std::string key = edit.substr(0, eq);
        const std::string value = edit.substr(eq + 1);
        const SettingsField* field = FindSettingsField(key.c_str());
        if (field == nullptr || (!field->inScene && key != kNamedOnlySetting)) {
            std::vector<std::string> known;
            for (const SettingsField& f : kSettingsFields) {
                if (f.inScene || std::strcmp(f.name, kNamedOnlySetting) == 0) known.emplace_back(f.name);
            }
            const std::string near = ClosestName(key, known);
            throw std::invalid_argument(key + ": unknown setting" +
                                        (near.empty() ? "" : "; did you mean \"" + near + "\"?") +
                                        " (lumafex show lists them)");
        }
        const auto [least, most] = SettingRange(*field);
        errno = 0;
        char* end = nullptr;
        const long long v = value.empty() ? 0 : std::strtoll(value.c_str(), &end, 10);
        if (value.empty() || end == nullptr || *end != '\0' || errno == ERANGE || v < least ||
            v > most) {
            throw std::invalid_argument(edit + ": the value must be a whole number from " +
                                        std::to_string(least) + " to " + std::to_string(most) +
                                        " (" + field->meaning + ")");
        }
        parsed.emplace_back(key, static_cast<int32_t>(v));
    }
    return parsed;
}

std::vector<std::string> EditLines(const std::vector<std::string>* lines,
                                   const std::vector<std::pair<std::string, int32_t>>& edits) {
    FilterSettings s{};
    if (lines != nullptr) {
        s = SettingsFromLines(*lines);
    } else {
        ResetToDefaults(s);
    }
    for (const auto& [key, value] : edits) s.*FindSettingsField(key.c_str())->member = value;
    return LinesFromSettings(s);
}

std::string SettingsTable(const FilterSettings& settings) {
    std::string out;
    char line[256];
    std::snprintf(line, sizeof line, "%-18s %11s  %-24s %s\n", "KEY", "VALUE", "NULL OBJECTS",
                  "MEANING");
    out += line;
    for (const SettingsField& f : kSettingsFields) {
        if (!f.inScene && std::strcmp(f.name, kNamedOnlySetting) != 0) continue;
        const char* nulls = NullsDriving(f.name);
        std::snprintf(line, sizeof line, "%-18s %11d  %-24s %s\n", f.name,
                      static_cast<int>(settings.*f.member), *nulls != '\0' ? nulls : "-", f.meaning);
        out += line;
    }
    return out;
}

}  // namespace lumafex::tool
