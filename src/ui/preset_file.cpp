#include "ui/preset_file.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/file_write.h"

namespace lumafex::ui {

// Every slot lies inside the image, text slots with room for their zero.
static_assert([] {
    for (const DialogField& row : kDialogFields) {
        const std::size_t size = row.slot == PresetSlot::Text || row.slot == PresetSlot::Record
                                     ? kPresetTextSize
                                     : 4;
        if (row.slot != PresetSlot::None && row.offset + size > kPresetSize) return false;
    }
    return true;
}());

std::string WithPresetExtension(const std::string& path) {
    const std::size_t name = path.find_last_of("/\\");
    const std::size_t start = name == std::string::npos ? 0 : name + 1;
    // A leading dot names a hidden file, not an extension.
    const std::size_t dot = path.find('.', start + 1);
    if (start >= path.size() || dot != std::string::npos) return path;
    return path + kPresetExtension;
}

void PutPresetText(PresetBytes bytes, std::size_t offset, const char* text) {
    uint8_t* slot = bytes.data() + offset;
    std::memset(slot, 0, kPresetTextSize);
    for (std::size_t i = 0; i < kPresetTextChars && text[i] != '\0'; ++i) {
        slot[i] = static_cast<uint8_t>(text[i]);
    }
}

void GetPresetText(ConstPresetBytes bytes, std::size_t offset, char (&out)[kPresetTextSize]) {
    const uint8_t* slot = bytes.data() + offset;
    std::size_t n = 0;
    while (n < kPresetTextChars && slot[n] != 0) {
        out[n] = static_cast<char>(slot[n]);
        ++n;
    }
    out[n] = '\0';
}

void PutPresetNumber(PresetBytes bytes, std::size_t offset, int32_t value) {
    if (value > 9999) value = 9999;
    if (value < -999) value = -999;
    char text[kPresetTextSize + 8];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    PutPresetText(bytes, offset, text);
}

void PutPresetInt(PresetBytes bytes, std::size_t offset, int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(u >> (8 * i));
}

int32_t GetPresetInt(ConstPresetBytes bytes, std::size_t offset) {
    uint32_t u = 0;
    for (std::size_t i = 0; i < 4; ++i) u |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    return static_cast<int32_t>(u);  // modular conversion (C++20)
}

bool ReadPresetFile(const char* path, PresetBytes bytes) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    const std::size_t read = std::fread(bytes.data(), 1, bytes.size(), file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed && read == bytes.size();
}

bool WritePresetFile(const char* path, ConstPresetBytes bytes) {
    const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return static_cast<bool>(platform::WriteFileWhole(path, data));
}

}  // namespace lumafex::ui
