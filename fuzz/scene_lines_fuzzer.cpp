// Fuzz target for reading scene lines.
//
// Input: the first byte chooses how the simulated host fills the line
// buffer, the rest is the scene block, one line per '\n' (lines may hold any
// byte, zero included). Each run loads the block into a record and checks it
// against a plain reading of the same lines with the C library's "%*s" and
// strtoll (whose overflow result is defined), then saves the record and
// reads the saved lines back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "settings/filter_settings.h"
#include "settings/scene_lines.h"
#include "settings/settings_fields.h"

namespace {

using lumafex::FilterSettings;
using lumafex::kSceneLineSize;

// Values the load must never change (apart from the SofterExtraFlag rule).
constexpr int32_t kPosterizeSentinel = -123457;
constexpr int32_t kSofterExtraSentinel = 77;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "scene lines check failed: %s\n", what);
        std::abort();
    }
}

// How the simulated host answers readLine.
enum class HostStyle : uint8_t {
    Honest,              // at most size - 1 characters and a terminator
    FillsWholeBuffer,    // a long line takes all size bytes, no terminator
    OverstatesCount,     // returns more than it stored
    NeverTerminates,     // stores the characters only
    JunkAfterTerminator, // fills the rest of the buffer after the terminator
};
constexpr int kHostStyles = 5;

struct Block {
    const std::vector<std::string>* lines;
    std::size_t next;
    HostStyle style;
};

int32_t ReadLine(void* context, char* buffer, int32_t size) {
    auto& block = *static_cast<Block*>(context);
    if (block.next >= block.lines->size()) return -1;
    const std::string& line = (*block.lines)[block.next++];
    const std::size_t room = static_cast<std::size_t>(size);
    switch (block.style) {
        case HostStyle::FillsWholeBuffer:
            if (line.size() >= room) {
                std::memcpy(buffer, line.data(), room);
                return size;
            }
            break;
        case HostStyle::NeverTerminates: {
            const std::size_t n = line.size() < room ? line.size() : room;
            std::memcpy(buffer, line.data(), n);
            return static_cast<int32_t>(n);
        }
        default:
            break;
    }
    const std::size_t n = line.size() < room ? line.size() : room - 1;
    std::memcpy(buffer, line.data(), n);
    if (block.style == HostStyle::JunkAfterTerminator) std::memset(buffer + n, '1', room - n);
    buffer[n] = '\0';
    if (block.style == HostStyle::OverstatesCount) return static_cast<int32_t>(n) + 1000;
    return static_cast<int32_t>(n);
}

// The text the record sees of a line: at most the buffer less its
// terminator, up to the first zero byte.
std::string Visible(const std::string& line) {
    std::string s = line.substr(0, static_cast<std::size_t>(kSceneLineSize) - 1);
    const std::size_t zero = s.find('\0');
    if (zero != std::string::npos) s.resize(zero);
    return s;
}

// The stored fields in line order, written out here rather than taken from
// the field table so that the table is checked too.
constexpr int32_t FilterSettings::*kLineFields[] = {
    &FilterSettings::Passes,           &FilterSettings::RedPercent,
    &FilterSettings::GreenPercent,     &FilterSettings::BluePercent,
    &FilterSettings::BrightPercent,    &FilterSettings::FilterInclude,
    &FilterSettings::SharpenFlag,      &FilterSettings::SharpenPercent,
    &FilterSettings::SmoothFlag,       &FilterSettings::AntialiasVariance,
    &FilterSettings::AntialiasPercent, &FilterSettings::BlurFlag,
    &FilterSettings::SofterBlurFlag,   &FilterSettings::BlurPercent,
    &FilterSettings::DOFBlurFlag,      &FilterSettings::DOFBlurPercent,
    &FilterSettings::DOFBlurFocalPoint, &FilterSettings::GammaPercent,
    &FilterSettings::ContrastPercent,  &FilterSettings::NoisePercent,
    &FilterSettings::FlipFrameFlag,    &FilterSettings::KeyPrepFlag,
    &FilterSettings::BlackFlag,        &FilterSettings::WhiteFlag,
    &FilterSettings::GreyFlag,         &FilterSettings::NoiseFlag,
    &FilterSettings::NegativeFlag,     &FilterSettings::NegativeImageFlag,
    &FilterSettings::CartoonFlag,      &FilterSettings::ReverseAlphaFlag,
    &FilterSettings::RangeAlphaFlag,   &FilterSettings::r1,
    &FilterSettings::g1,               &FilterSettings::b1,
    &FilterSettings::r2,               &FilterSettings::g2,
    &FilterSettings::b2,
};
static_assert(std::size(kLineFields) == 37);

// The reading the loader must agree with, whatever the host style.
void ReferenceLoad(FilterSettings& s, const std::vector<std::string>& lines) {
    std::size_t i = 0;
    if (i >= lines.size()) return;
    const std::string first = Visible(lines[i++]);
    const bool version =
        (!first.empty() && first[0] == 'V') || (first.size() > 8 && first[8] == '1');
    if (!version && i++ >= lines.size()) return;
    for (int32_t FilterSettings::*field : kLineFields) {
        if (i >= lines.size()) return;
        const std::string line = Visible(lines[i++]);
        int keyEnd = -1;
        std::sscanf(line.c_str(), "%*s%n", &keyEnd);
        if (keyEnd >= 0) {
            const char* start = line.c_str() + keyEnd;
            char* end = nullptr;
            const long long v = std::strtoll(start, &end, 10);
            if (end != start) {
                constexpr long long kMin = std::numeric_limits<int32_t>::min();
                constexpr long long kMax = std::numeric_limits<int32_t>::max();
                s.*field = static_cast<int32_t>(v < kMin ? kMin : v > kMax ? kMax : v);
            }
        }
        if (field == &FilterSettings::SofterBlurFlag) {
            s.SofterExtraFlag = s.SofterBlurFlag == 2 ? 1 : 0;
        }
    }
}

FilterSettings Start() {
    FilterSettings s{};
    lumafex::ResetToDefaults(s);
    s.PosterizePercent = kPosterizeSentinel;
    s.SofterExtraFlag = kSofterExtraSentinel;
    return s;
}

struct Saved {
    std::vector<std::string> lines;
    bool lengthsOk = true;
};

void WriteLine(void* context, const char* text, int32_t length) {
    auto& saved = *static_cast<Saved*>(context);
    if (length != kSceneLineSize || std::strlen(text) >= static_cast<std::size_t>(length)) {
        saved.lengthsOk = false;
    }
    saved.lines.emplace_back(text);
}

// The simulated host's block and the saved lines as the loader's line
// source and sink.
struct BlockSource final : lumafex::LineSource {
    explicit BlockSource(Block& b) : block(b) {}
    int32_t ReadLine(char* buffer, int32_t size) override { return ::ReadLine(&block, buffer, size); }
    Block& block;
};

struct SavedSink final : lumafex::LineSink {
    explicit SavedSink(Saved& s) : saved(s) {}
    void WriteLine(const char* text, int32_t length) override { ::WriteLine(&saved, text, length); }
    Saved& saved;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const auto style = static_cast<HostStyle>(data[0] % kHostStyles);
    std::vector<std::string> lines;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == '\n') {
            lines.emplace_back(text + begin, i - begin);
            begin = i + 1;
        }
    }
    if (begin < length) lines.emplace_back(text + begin, length - begin);

    FilterSettings loaded = Start();
    Block block{&lines, 0, style};
    BlockSource source(block);
    lumafex::LoadSceneLines(loaded, source);

    FilterSettings expected = Start();
    ReferenceLoad(expected, lines);
    Check(std::memcmp(&loaded, &expected, sizeof loaded) == 0, "load differs from reference");
    Check(loaded.PosterizePercent == kPosterizeSentinel, "PosterizePercent changed");

    // Whatever was loaded saves as 38 buffers and reads back unchanged.
    Saved saved;
    SavedSink sink(saved);
    lumafex::SaveSceneLines(loaded, sink);
    Check(saved.lengthsOk, "saved line too long or wrong length");
    Check(saved.lines.size() == 38 && saved.lines[0] == "Version 1", "saved block shape");
    FilterSettings reread = Start();
    Block again{&saved.lines, 0, HostStyle::Honest};
    BlockSource againSource(again);
    lumafex::LoadSceneLines(reread, againSource);
    Check(reread.SofterExtraFlag == (loaded.SofterBlurFlag == 2 ? 1 : 0),
          "SofterExtraFlag does not follow SofterBlurFlag");
    reread.SofterExtraFlag = loaded.SofterExtraFlag;
    Check(std::memcmp(&loaded, &reread, sizeof loaded) == 0, "save and load do not round-trip");
    return 0;
}
