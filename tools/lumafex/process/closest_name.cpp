#include "process/closest_name.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace lumafex::tool {

namespace {

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

}  // namespace lumafex::tool
