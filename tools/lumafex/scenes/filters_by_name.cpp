#include "scenes/filters_by_name.h"

#include <cctype>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "process/closest_name.h"
#include "scenes/settings_block.h"
#include "settings/settings_fields.h"

namespace lumafex::tool {

namespace {

std::vector<std::string> StoredNames() {
    std::vector<std::string> names;
    for (const SettingsField& f : kSettingsFields) {
        if (f.inScene || std::strcmp(f.name, kNamedOnlySetting) == 0) names.emplace_back(f.name);
    }
    return names;
}

int32_t WholeNumber(const nlohmann::ordered_json& value, const std::string& where) {
    if (!value.is_number_integer() ||
        value.get<int64_t>() < std::numeric_limits<int32_t>::min() ||
        value.get<int64_t>() > std::numeric_limits<int32_t>::max()) {
        throw std::runtime_error(where + ": must be a whole number from " +
                                 std::to_string(std::numeric_limits<int32_t>::min()) + " to " +
                                 std::to_string(std::numeric_limits<int32_t>::max()));
    }
    return static_cast<int32_t>(value.get<int64_t>());
}

// The first word of a stored line, as the module's "%*s" skips it.
std::string FirstWord(const std::string& line) {
    std::size_t start = 0;
    while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start]))) ++start;
    std::size_t end = start;
    while (end < line.size() && !std::isspace(static_cast<unsigned char>(line[end]))) ++end;
    return line.substr(start, end - start);
}

}  // namespace

std::vector<std::string> LinesFromNamedFilters(const nlohmann::ordered_json& filters,
                                               const std::string& where) {
    if (!filters.is_object())
        throw std::runtime_error(where + ": must be an object of name: value");
    FilterSettings s{};
    ResetToDefaults(s);
    for (const auto& [name, value] : filters.items()) {
        const SettingsField* field = FindSettingsField(name.c_str());
        if (name == kNamedOnlySetting) {
            (void)WholeNumber(value, where + "." + name);
            continue;
        }
        if (field != nullptr && !field->inScene) {
            throw std::runtime_error(where + "." + name +
                                     ": not stored in a scene (the settings dialog and presets "
                                     "keep it)");
        }
        if (field == nullptr) {
            const std::string near = ClosestName(name, StoredNames());
            throw std::runtime_error(where + ": unknown filter setting \"" + name + "\"" +
                                     (near.empty() ? "" : "; did you mean \"" + near + "\"?") +
                                     " (lumafex show lists them)");
        }
        s.*field->member = WholeNumber(value, where + "." + name);
    }
    return LinesFromSettings(s);
}

std::optional<int32_t> PosterizeFromFilters(const nlohmann::ordered_json& filters,
                                            const std::string& where) {
    if (!filters.is_object() || !filters.contains(kNamedOnlySetting)) return std::nullopt;
    return WholeNumber(filters[kNamedOnlySetting], where + "." + kNamedOnlySetting);
}

void CheckStoredLineNames(const std::vector<std::string>& lines, const std::string& where) {
    if (lines.empty()) return;
    // The module's load takes the first line as the version line when it
    // starts with "V" or has "1" at its ninth character; otherwise it drops
    // the line after it as well.
    const std::string& first = lines[0];
    const bool versionFirst = first.rfind('V', 0) == 0 || (first.size() > 8 && first[8] == '1');
    std::size_t next = versionFirst ? 1 : 2;
    if (FirstWord(first) != "Version") {
        throw std::runtime_error(
            where + "[0]: reads \"" + first + "\" where the module expects \"Version 1\"" +
            (versionFirst ? std::string()
                          : "; without it the module skips the next line and reads every value "
                            "into the wrong setting") +
            " (the lines are read by position; \"filters\" gives settings by name)");
    }
    for (const SettingsField& f : kSettingsFields) {
        if (!f.inScene) continue;
        if (next >= lines.size()) return;  // a short block leaves the rest as they are
        const std::string key = FirstWord(lines[next]);
        if (key != f.name) {
            throw std::runtime_error(
                where + "[" + std::to_string(next) + "]: reads \"" + lines[next] +
                "\" but the module reads that line into " + f.name +
                "; a missing or extra line shifts every value after it (the "
                "lines are read by position; \"filters\" gives settings by name)");
        }
        ++next;
    }
    if (next < lines.size()) {
        throw std::runtime_error(where + "[" + std::to_string(next) + "]: \"" + lines[next] +
                                 "\" comes after the last setting the module reads (b2)");
    }
}

}  // namespace lumafex::tool
