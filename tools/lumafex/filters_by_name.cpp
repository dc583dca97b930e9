#include "filters_by_name.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "settings/settings_fields.h"
#include "settings_block.h"

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

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] =
                std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
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

std::string ClosestName(const std::string& name, const std::vector<std::string>& known) {
    const std::string lowered = Lower(name);
    std::string best;
    std::size_t bestDistance = std::numeric_limits<std::size_t>::max();
    for (const std::string& candidate : known) {
        const std::size_t d = EditDistance(lowered, Lower(candidate));
        if (d < bestDistance) {
            bestDistance = d;
            best = candidate;
        }
    }
    // Near means at most a third of the name changed (and at least one edit
    // is always allowed, so "r3" still finds "r2").
    if (bestDistance <= std::max<std::size_t>(1, name.size() / 3)) return best;
    // Else the one name that begins with it, as the dialog's captions name
    // them: "Contrast" and "Contrast%" are ContrastPercent.
    std::string start = lowered;
    if (!start.empty() && start.back() == '%') start.replace(start.size() - 1, 1, "percent");
    best.clear();
    for (const std::string& candidate : known) {
        if (start.size() < 3 || Lower(candidate).rfind(start, 0) != 0) continue;
        if (!best.empty()) return {};
        best = candidate;
    }
    return best;
}

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
