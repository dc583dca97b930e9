// A JSON text changed into another document by rewriting only the text of
// the values that differ, so that a file kept in version control shows the
// change and nothing else: a scene whose settings `set` or `edit` change.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace lumafex::tool {

// text, which reads as before, changed to read as after. Values that differ
// are written as the JSON library writes them; members and elements that
// after adds go where after has them, with the whitespace the text puts
// between their neighbours (a new list or object is laid out over lines,
// at the file's indentation, where its neighbours are). Everything else
// stays byte for byte. Empty when the text's layout is not one this can
// follow (a key given twice, a member or element after leaves out, members
// in another order, a value the library cannot write); the caller then
// writes the whole document.
std::optional<std::string> EditJsonText(const std::string& text, const nlohmann::ordered_json& before,
                                        const nlohmann::ordered_json& after);

}  // namespace lumafex::tool
