#include "scenes/json_text_edit.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

namespace lumafex::tool {

namespace {

using Json = nlohmann::ordered_json;

// How new text is laid out where it goes: over lines (each member on its
// own line, one unit deeper than its container's line) or on one line, and
// what stands between a key and its value.
struct Layout {
    bool overLines = false;
    std::string newline = "\n";  // or "\r\n", as the file ends its lines
    std::string unit = "  ";
    std::string colon = ": ";
};

// A member of an object or an element of an array, as the text has it.
struct Entry {
    std::size_t lead = 0;   // the whitespace before it, after "{", "[" or ","
    std::size_t start = 0;  // its key, or its value for an element
    std::size_t valueStart = 0;
    std::size_t valueEnd = 0;
    std::string key;
};

struct Replacement {
    std::size_t start;
    std::size_t end;
    std::string with;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A value laid out as the layout says, its inner lines under indent.
std::string Render(const Json& value, const Layout& layout, const std::string& indent) {
    if (!value.is_structured() || value.empty()) return value.dump();
    const std::string inner = indent + layout.unit;
    std::string out = value.is_array() ? "[" : "{";
    bool first = true;
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (!first) out += ",";
        out += layout.overLines ? layout.newline + inner : (first ? "" : " ");
        if (value.is_object()) out += Json(it.key()).dump() + layout.colon;
        out += Render(it.value(), layout, inner);
        first = false;
    }
    if (layout.overLines) out += layout.newline + indent;
    out += value.is_array() ? "]" : "}";
    return out;
}

class TextEditor {
public:
    explicit TextEditor(const std::string& text) : text_(text) {}

    // Changes the value at `at` from before to after; false when it cannot.
    bool Change(std::size_t at, const Json& before, const Json& after, const Layout& around) {
        if (before == after) return true;
        const std::optional<std::size_t> end = ValueEnd(at);
        if (!end) return false;
        if (before.is_object() && after.is_object() && !before.empty()) return ChangeObject(at, before, after);
        if (before.is_array() && after.is_array() && !before.empty()) return ChangeArray(at, before, after);
        // Only a list or an object needs the indentation of its line.
        replacements_.push_back({at, *end, Render(after, around, after.is_structured() ? IndentOf(at) : "")});
        return true;
    }

    std::size_t SkipSpace(std::size_t p) const {
        while (p < text_.size() && IsSpace(text_[p])) ++p;
        return p;
    }

    std::string Applied() {
        std::sort(replacements_.begin(), replacements_.end(),
                  [](const Replacement& a, const Replacement& b) { return a.start < b.start; });
        std::string out;
        std::size_t from = 0;
        for (const Replacement& r : replacements_) {
            out.append(text_, from, r.start - from);
            out += r.with;
            from = r.end;
        }
        out.append(text_, from, std::string::npos);
        return out;
    }

private:
    std::optional<std::size_t> StringEnd(std::size_t p) const {
        for (std::size_t i = p + 1; i < text_.size(); ++i) {
            if (text_[i] == '\\') {
                ++i;
            } else if (text_[i] == '"') {
                return i + 1;
            }
        }
        return std::nullopt;
    }

    // Where the value starting at p ends. The text has been read as JSON
    // already; this only finds the ends again.
    std::optional<std::size_t> ValueEnd(std::size_t p) const {
        if (p >= text_.size()) return std::nullopt;
        const char c = text_[p];
        if (c == '"') return StringEnd(p);
        if (c == '{' || c == '[') {
            int depth = 0;
            for (std::size_t i = p; i < text_.size(); ++i) {
                const char d = text_[i];
                if (d == '"') {
                    const std::optional<std::size_t> end = StringEnd(i);
                    if (!end) return std::nullopt;
                    i = *end - 1;
                } else if (d == '{' || d == '[') {
                    ++depth;
                } else if ((d == '}' || d == ']') && --depth == 0) {
                    return i + 1;
                }
            }
            return std::nullopt;
        }
        std::size_t i = p;
        while (i < text_.size() && std::string_view("+-.0123456789eEtruefalsn").find(text_[i]) != std::string_view::npos) ++i;
        if (i == p) return std::nullopt;
        return i;
    }

    // The members or elements of the object or array opening at open.
    bool Entries(std::size_t open, std::vector<Entry>& entries) const {
        const bool object = text_[open] == '{';
        const char close = object ? '}' : ']';
        std::size_t p = open + 1;
        for (;;) {
            Entry e;
            e.lead = p;
            p = SkipSpace(p);
            if (p >= text_.size()) return false;
            if (text_[p] == close && entries.empty()) return true;
            e.start = p;
            if (object) {
                const std::optional<std::size_t> keyEnd = text_[p] == '"' ? StringEnd(p) : std::nullopt;
                if (!keyEnd) return false;
                const Json key = Json::parse(text_.substr(p, *keyEnd - p), nullptr, false);
                if (!key.is_string()) return false;
                e.key = key.get<std::string>();
                p = SkipSpace(*keyEnd);
                if (p >= text_.size() || text_[p] != ':') return false;
                p = SkipSpace(p + 1);
            }
            e.valueStart = p;
            const std::optional<std::size_t> end = ValueEnd(p);
            if (!end) return false;
            e.valueEnd = *end;
            entries.push_back(std::move(e));
            p = SkipSpace(*end);
            if (p >= text_.size()) return false;
            if (text_[p] == close) return true;
            if (text_[p] != ',') return false;
            ++p;
        }
    }

    // The whitespace that starts the line p is on.
    std::string IndentOf(std::size_t p) const {
        std::size_t start = p;
        while (start > 0 && text_[start - 1] != '\n') --start;
        std::size_t end = start;
        while (end < p && (text_[end] == ' ' || text_[end] == '\t')) ++end;
        return text_.substr(start, end - start);
    }

    std::string Lead(const Entry& e) const { return text_.substr(e.lead, e.start - e.lead); }

    // What goes between a new entry and its neighbour: the neighbour's own
    // line break and indentation, or a space on one line.
    std::string Separator(const Entry& neighbour) const {
        const std::string lead = Lead(neighbour);
        std::size_t newline = lead.rfind('\n');
        if (newline == std::string::npos) return " ";
        if (newline > 0 && lead[newline - 1] == '\r') --newline;
        return lead.substr(newline);
    }

    // The layout of the container opening at open, as its entries show it.
    Layout LayoutOf(std::size_t open, const std::vector<Entry>& entries) const {
        Layout layout;
        const Entry& last = entries.back();
        const std::string lead = Lead(last);
        const std::size_t newline = lead.rfind('\n');
        layout.overLines = newline != std::string::npos;
        if (layout.overLines) {
            if (newline > 0 && lead[newline - 1] == '\r') layout.newline = "\r\n";
            const std::string own = lead.substr(newline + 1);
            const std::string outer = IndentOf(open);
            if (own.size() > outer.size() && own.compare(0, outer.size(), outer) == 0)
                layout.unit = own.substr(outer.size());
        }
        if (text_[open] == '{') {
            const std::size_t keyEnd = *StringEnd(last.start);
            layout.colon = text_.substr(keyEnd, last.valueStart - keyEnd);
        }
        return layout;
    }

    // The indentation of new entries: their neighbour's, or the
    // container's line's when laid out on one line.
    std::string EntryIndent(std::size_t open, const Entry& neighbour, const Json& value) const {
        if (!value.is_structured()) return {};
        const std::string lead = Lead(neighbour);
        const std::size_t newline = lead.rfind('\n');
        return newline == std::string::npos ? IndentOf(open) : lead.substr(newline + 1);
    }

    bool ChangeObject(std::size_t open, const Json& before, const Json& after) {
        std::vector<Entry> entries;
        if (!Entries(open, entries) || entries.size() != before.size()) return false;  // a key given twice
        std::size_t k = 0;
        for (auto it = before.begin(); it != before.end(); ++it, ++k)
            if (entries[k].key != it.key()) return false;
        const Layout layout = LayoutOf(open, entries);
        auto member = [&](const std::string& key, const Json& value, const Entry& neighbour) {
            return Json(key).dump() + layout.colon + Render(value, layout, EntryIndent(open, neighbour, value));
        };
        std::size_t next = 0;  // the next of the text's members
        std::string waiting;   // new members that go before it
        for (auto it = after.begin(); it != after.end(); ++it) {
            if (next < entries.size() && entries[next].key == it.key()) {
                if (!waiting.empty()) replacements_.push_back({entries[next].start, entries[next].start, waiting});
                waiting.clear();
                if (!Change(entries[next].valueStart, before[it.key()], it.value(), layout)) return false;
                ++next;
            } else if (before.contains(it.key())) {
                return false;  // in another order
            } else {
                const Entry& neighbour = entries[std::min(next, entries.size() - 1)];
                waiting.append(member(it.key(), it.value(), neighbour)).append(",").append(Separator(neighbour));
            }
        }
        if (next != entries.size()) return false;  // after leaves a member out
        if (!waiting.empty()) {
            // After the last member: move the separator in front.
            const Entry& last = entries.back();
            const std::string separator = Separator(last);
            waiting.erase(waiting.size() - separator.size() - 1);
            replacements_.push_back({last.valueEnd, last.valueEnd, std::string(",").append(separator).append(waiting)});
        }
        return true;
    }

    bool ChangeArray(std::size_t open, const Json& before, const Json& after) {
        std::vector<Entry> entries;
        if (!Entries(open, entries) || entries.size() != before.size() || after.size() < before.size()) return false;
        const Layout layout = LayoutOf(open, entries);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!Change(entries[i].valueStart, before[i], after[i], layout)) return false;
        }
        std::string added;
        const Entry& last = entries.back();
        for (std::size_t i = entries.size(); i < after.size(); ++i)
            added.append(",").append(Separator(last)).append(Render(after[i], layout, EntryIndent(open, last, after[i])));
        if (!added.empty()) replacements_.push_back({last.valueEnd, last.valueEnd, added});
        return true;
    }

    const std::string& text_;
    std::vector<Replacement> replacements_;
};

}  // namespace

std::optional<std::string> EditJsonText(const std::string& text, const nlohmann::ordered_json& before,
                                        const nlohmann::ordered_json& after) {
    try {
        TextEditor editor(text);
        // The reader skips a UTF-8 byte order mark.
        const std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        Layout around;
        const std::size_t newline = text.find('\n');
        around.overLines = newline != std::string::npos;
        if (around.overLines && newline > 0 && text[newline - 1] == '\r') around.newline = "\r\n";
        if (!editor.Change(editor.SkipSpace(start), before, after, around)) return std::nullopt;
        return editor.Applied();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;  // a string that is not UTF-8
    }
}

}  // namespace lumafex::tool
