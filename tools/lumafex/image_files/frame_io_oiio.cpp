// Frames through OpenImageIO: parts and channels by name, colour spaces
// through its colour configuration (OpenColorIO: the file named by
// --colorconfig, a scene's colorConfig or the OCIO environment variable,
// else the built-in one), alpha through its premult and unpremult.
#include <OpenImageIO/color.h>
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>

#include "image_files/channels.h"
#include "image_files/files.h"
#include "image_files/frame_io.h"
#include "image_files/image_io.h"
#include "image_files/image_limits_oiio.h"
#include "process/closest_name.h"
#include "process/progress.h"
#include "process/system.h"

namespace lumafex::tool {

// One part of an input as stored: its layout (channels and their types,
// data and display windows, tiles, line order, compression, attributes)
// and its data window's pixels, every channel in its own type, interleaved.
struct StoredPart {
    OIIO::ImageSpec layout;
    std::vector<unsigned char> pixels;
};

// What an output keeps of its colour input: the file's metadata and, when
// the file holds more than the colour (other channels or parts, values
// beyond bytes, windows away from the origin), every part as stored, so an
// output can give back bit for bit what the module did not filter.
struct ImageMetadata {
    OIIO::ParamValueList attributes;
    std::string path;
    std::vector<StoredPart> parts;  // empty: only the colour was read
    int colourPart = 0;
    int colourIndex[4] = {-1, -1, -1, -1};  // the colour's R, G, B, A in colourPart
};

namespace {

using OIIO::ImageBuf;
using OIIO::ImageInput;
using OIIO::ImageOutput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

// More parts than any renderer writes; a file claiming more is refused
// before they are all walked.
constexpr int kMaxParts = 1024;

// The colour configuration a run uses: the file ChooseColourConfiguration
// named (--colorconfig, a scene's colorConfig), else the one the OCIO
// environment variable names, else OpenImageIO's built-in one. It is read once; a file
// that is named but cannot be read is an error wherever colour is converted
// or a colour space is named, never a silent fall back to the built-in one.
struct ColourConfiguration {
    std::string file;    // empty: the built-in configuration
    std::string origin;  // how the file was named ("$OCIO", "--colorconfig")
    std::unique_ptr<OIIO::ColorConfig> config;
    std::string error;  // why the named file cannot be used; empty when it can
};

// The file ChooseColourConfiguration named, and how.
std::string g_chosenFile, g_chosenOrigin;

// The compression ChooseOutputCompression named (set before any frame is
// written, then only read); empty: the input's, or the format's default.
std::string g_outputCompression;

const ColourConfiguration& Configuration() {
    static const ColourConfiguration loaded = [] {
        ColourConfiguration c;
        if (!g_chosenOrigin.empty()) {
            c.file = g_chosenFile;
            c.origin = g_chosenOrigin;
        } else if (const char* env = std::getenv("OCIO"); env != nullptr && *env != '\0') {
            c.file = env;
            c.origin = "$OCIO";
        }
        c.config = std::make_unique<OIIO::ColorConfig>(c.file);
        // Without a file OpenImageIO reports that none was given; that is
        // the built-in configuration working as meant.
        const bool failed = c.config->has_error();
        std::string reason = c.config->geterror();
        (void)OIIO::geterror();
        if (!c.file.empty() && !OIIO::ColorConfig::supportsOpenColorIO())
            reason = "this build of OpenImageIO has no OpenColorIO support";
        if (!c.file.empty() && (failed || !reason.empty() || c.config->configname() == "built-in")) {
            c.error = "colour configuration " + c.file + " (from " + c.origin +
                      ") cannot be read: " + (reason.empty() ? "unknown reason" : reason);
        }
        return c;
    }();
    return loaded;
}

const OIIO::ColorConfig& Config() {
    const ColourConfiguration& c = Configuration();
    if (!c.error.empty()) throw std::runtime_error(c.error);
    return *c.config;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string ConfigName() {
    const ColourConfiguration& c = Configuration();
    return c.file.empty() ? std::string("the built-in colour configuration")
                          : "the colour configuration " + c.file + " (from " + c.origin + ")";
}

// The linear space of the configuration: its scene_linear role, else
// "linear".
std::string LinearSpace() {
    const char* role = Config().getColorSpaceNameByRole("scene_linear");
    return role != nullptr ? std::string(role) : std::string("linear");
}

struct OpenedFile {
    // The file, opened once: the reader recognises its format and decodes
    // it through this one handle instead of opening it by name again.
    std::unique_ptr<OIIO::Filesystem::IOFile> handle;
    std::unique_ptr<ImageInput> input;  // goes before the handle it reads
    std::vector<ImageSpec> parts;
};

OpenedFile OpenParts(const std::string& path) {
    CheckRegularFile(path);
    SetDecoderLimits();
    ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    OpenedFile file;
    file.handle = std::make_unique<OIIO::Filesystem::IOFile>(path, OIIO::Filesystem::IOProxy::Read);
    if (!file.handle->opened()) throw ImageError(path + ": cannot read image: " + file.handle->error());
    OIIO::Filesystem::IOProxy* proxy = file.handle.get();
    file.input = ImageInput::create(path, false, &config, proxy);
    // EXR (a multilayer file is read for colour and depth and passed
    // through) through the handle, from its start; other readers by name,
    // as some of them (JPEG) do not read such a handle whole.
    const bool throughHandle = file.input && std::string(file.input->format_name()) == "openexr";
    if (throughHandle) config.attribute("oiio:ioproxy", TypeDesc::PTR, &proxy);
    file.handle->seek(0);
    ImageSpec first;
    if (!file.input || !file.input->open(path, first, config)) {
        const std::string why = file.input ? file.input->geterror() : OIIO::geterror();
        throw ImageError(path + ": cannot read image: " + why);
    }
    ImageSpec layout;
    for (int s = 0; file.input->seek_subimage(s, 0, layout); ++s) {
        if (s == kMaxParts) throw ImageError(path + ": more than " + std::to_string(kMaxParts) + " parts");
        // Every part's layout is checked before any pixel is read.
        CheckDecoderLayout(path, layout);
        file.parts.push_back(layout);
    }
    if (file.parts.empty()) throw ImageError(path + ": image has no parts");
    return file;
}

template <typename Layout>
std::vector<NamedChannel> ChannelsOf(const std::vector<Layout>& parts,
                                     const ImageSpec& (*layoutOf)(const Layout&)) {
    std::vector<std::string> partNames;
    std::vector<std::vector<std::string>> channelNames;
    for (const Layout& part : parts) {
        const ImageSpec& layout = layoutOf(part);
        // A one-part file's name (if any) is not a layer prefix.
        partNames.push_back(parts.size() > 1 ? layout.get_string_attribute("oiio:subimagename") : "");
        channelNames.push_back(layout.channelnames);
    }
    return ListChannels(partNames, channelNames);
}

std::vector<NamedChannel> Channels(const OpenedFile& file) {
    return ChannelsOf<ImageSpec>(file.parts, [](const ImageSpec& l) -> const ImageSpec& { return l; });
}

std::vector<NamedChannel> Channels(const std::vector<StoredPart>& parts) {
    return ChannelsOf<StoredPart>(parts, [](const StoredPart& p) -> const ImageSpec& { return p.layout; });
}

// Where channel c starts within a pixel stored in its channels' own types.
std::size_t ChannelOffset(const ImageSpec& layout, int c) {
    std::size_t offset = 0;
    for (int k = 0; k < c; ++k) offset += layout.channelformat(k).size();
    return offset;
}

// One channel of a stored part converted to type into out, stride bytes
// from one pixel to the next.
void ChannelValues(const std::string& path, const StoredPart& part, int c, TypeDesc type, void* out,
                   OIIO::stride_t stride) {
    const ImageSpec& l = part.layout;
    const auto pixel = static_cast<OIIO::stride_t>(l.pixel_bytes(true));
    if (!OIIO::convert_image(1, l.width, l.height, 1, part.pixels.data() + ChannelOffset(l, c),
                             l.channelformat(c), pixel, pixel * l.width, OIIO::AutoStride, out, type, stride,
                             stride * l.width, OIIO::AutoStride))
        throw ImageError(path + ": cannot convert channel " + l.channelnames[static_cast<std::size_t>(c)] +
                         ": " + OIIO::geterror());
}

// Whether a part's data window differs from a display window at the origin
// (overscan, a crop, or an offset), which only some formats can hold.
bool AwayFromOrigin(const ImageSpec& l) {
    return l.x != 0 || l.y != 0 || l.full_x != 0 || l.full_y != 0 || l.full_width != l.width ||
           l.full_height != l.height;
}

// Whether a file holds anything beyond its colour's bytes at the origin:
// then every part is kept as stored for the output.
bool HoldsMore(const OpenedFile& file, const ColourChannels& pick) {
    if (file.parts.size() != 1) return true;
    const ImageSpec& l = file.parts.front();
    if (AwayFromOrigin(l)) return true;
    int used = 0;
    for (int k = 0; k < 4; ++k) {
        bool repeated = false;
        for (int j = 0; j < k; ++j) repeated = repeated || pick.index[j] == pick.index[k];
        if (pick.index[k] >= 0 && !repeated) ++used;
        if (pick.index[k] >= 0 && l.channelformat(pick.index[k]) != TypeDesc::UINT8) return true;
    }
    return used != l.nchannels;
}

// Every part's pixels as stored, each part decoded once (all its channels
// together); their sum is held to the memory budget.
std::vector<StoredPart> ReadParts(const std::string& path, OpenedFile& file) {
    uint64_t total = 0;
    for (const ImageSpec& l : file.parts) {
        if (l.deep) throw ImageError(path + ": deep images are not supported");
        if (l.depth > 1) throw ImageError(path + ": volume images are not supported");
        CheckImageSize(path, l.width, l.height);
        total += static_cast<uint64_t>(l.image_bytes(true));
    }
    CheckAllocation(path, "its " + std::to_string(file.parts.size()) + " part(s) as stored", {total});
    std::vector<StoredPart> parts(file.parts.size());
    for (std::size_t s = 0; s < parts.size(); ++s) {
        parts[s].layout = file.parts[s];
        parts[s].pixels.resize(static_cast<std::size_t>(parts[s].layout.image_bytes(true)));
        if (!file.input->read_image(static_cast<int>(s), 0, 0, parts[s].layout.nchannels, TypeDesc::UNKNOWN,
                                    parts[s].pixels.data()))
            throw ImageError(path + ": cannot read pixels: " + file.input->geterror());
    }
    return parts;
}

// The colour input a thread read last, for its depth to come from the same
// decoded file (each thread reads its own frames, so nothing is shared).
thread_local std::weak_ptr<const ImageMetadata> g_lastRead;

const ImageSpec& CheckedPart(const std::string& path, const OpenedFile& file, int part) {
    const ImageSpec& layout = file.parts[static_cast<std::size_t>(part)];
    CheckImageSize(path, layout.width, layout.height);
    if (layout.depth > 1) throw ImageError(path + ": volume images are not supported");
    return layout;
}

// One channel of a part into every stride-th value of out.
template <typename T>
void ReadChannel(const std::string& path, OpenedFile& file, int part, int channel, TypeDesc type, T* out,
                 int stride) {
    // A file of this one channel in this type is read straight into out;
    // otherwise the library converts through a buffer of its own.
    const ImageSpec& l = file.parts[static_cast<std::size_t>(part)];
    const TypeDesc asked =
        l.nchannels == 1 && l.format == type && l.channelformats.empty() ? TypeDesc::UNKNOWN : type;
    if (!file.input->read_image(part, 0, channel, channel + 1, asked, out,
                                static_cast<OIIO::stride_t>(sizeof(T)) * stride))
        throw ImageError(path + ": cannot read pixels: " + file.input->geterror());
}

// Rows decoded at a time from a scanline file with rows of rowBytes: about
// 2 MB rounded up to a whole multiple of 256 rows, the tallest block of
// rows a format compresses together (EXR's DWAB), so that no block is
// decoded twice; so at least 256 rows (16 MB of float RGBA at 3840 wide).
std::size_t DecodeBandRows(std::size_t rowBytes) {
    constexpr std::size_t kBandBytes = std::size_t{2} << 20;
    constexpr std::size_t kBlockRows = 256;
    const std::size_t rows = kBandBytes / std::max<std::size_t>(rowBytes, 1);
    return std::max<std::size_t>(1, (rows + kBlockRows - 1) / kBlockRows) * kBlockRows;
}

// The picked colour channels as type T, channel k of the colour to
// out[k][i * stride] for pixel i: from the parts kept as stored, else from
// one read of every channel of the file (then its colour is all it holds,
// at most four channels), so the decoder runs once whatever is picked.
template <typename T>
void PickedValues(const std::string& path, OpenedFile& file, const StoredPart* stored,
                  const ColourChannels& pick, TypeDesc type, T* const out[4], std::size_t stride) {
    if (stored) {
        for (int k = 0; k < 4; ++k) {
            if (pick.index[k] >= 0)
                ChannelValues(path, *stored, pick.index[k], type, out[k],
                              static_cast<OIIO::stride_t>(stride * sizeof(T)));
        }
        return;
    }
    const ImageSpec& l = file.parts[static_cast<std::size_t>(pick.part)];
    const auto width = static_cast<std::size_t>(l.width);
    const auto channels = static_cast<std::size_t>(l.nchannels);
    // A scanline file goes through a band of rows at a time: no buffer the
    // size of the frame is taken (and faulted in afresh) for every frame.
    const bool scanlines = l.tile_width <= 0 && l.depth <= 1;
    const std::size_t bandRows =
        scanlines ? DecodeBandRows(width * channels * sizeof(T)) : static_cast<std::size_t>(l.height);
    std::vector<T> band(std::min(bandRows, static_cast<std::size_t>(l.height)) * width * channels);
    // Values asked for in the file's own type go straight into the band;
    // any other type makes the library convert through a buffer of its own
    // of 64 MB, whatever the band's size.
    const TypeDesc asked = l.format == type && l.channelformats.empty() ? TypeDesc::UNKNOWN : type;
    for (std::size_t top = 0; top < static_cast<std::size_t>(l.height); top += bandRows) {
        const std::size_t rows = std::min(bandRows, static_cast<std::size_t>(l.height) - top);
        const int y = l.y + static_cast<int>(top);
        const bool read = scanlines ? file.input->read_scanlines(pick.part, 0, y, y + static_cast<int>(rows),
                                                                 l.z, 0, l.nchannels, asked, band.data())
                                    : file.input->read_image(pick.part, 0, 0, l.nchannels, type, band.data());
        if (!read) throw ImageError(path + ": cannot read pixels: " + file.input->geterror());
        const std::size_t n = rows * width;
        for (int k = 0; k < 4; ++k) {
            if (pick.index[k] < 0) continue;
            const T* from = band.data() + pick.index[k];
            T* to = out[k] + top * width * stride;
            for (std::size_t i = 0; i < n; ++i) to[i * stride] = from[i * channels];
        }
    }
}

bool IsFloat(TypeDesc t) {
    return t.basetype == TypeDesc::HALF || t.basetype == TypeDesc::FLOAT || t.basetype == TypeDesc::DOUBLE;
}

// Replaces the float RGBA pixels of buffer with the result of an image
// operation on them.
template <typename Operation>
void Apply(const std::string& path, std::vector<float>& rgba, int w, int h, Operation operation) {
    ImageSpec layout(w, h, 4, TypeDesc::FLOAT);
    layout.alpha_channel = 3;
    const ImageBuf source(layout, rgba.data());
    ImageBuf result;
    if (!operation(result, source) || result.has_error())
        throw ImageError(path + ": " + (result.has_error() ? result.geterror() : OIIO::geterror()));
    if (!result.get_pixels(OIIO::ROI::All(), TypeDesc::FLOAT, rgba.data()))
        throw ImageError(path + ": " + result.geterror());
}

// The conversions that take colour from one space to another: one where
// the configuration relates them, else two through its linear space (the
// built-in one relates "Gamma2.2" to linear only); nullopt when it cannot.
std::optional<std::vector<OIIO::ColorProcessorHandle>> ConversionSteps(const std::string& from,
                                                                       const std::string& to) {
    const OIIO::ColorConfig& config = Config();
    const std::string linear = LinearSpace();
    std::optional<std::vector<OIIO::ColorProcessorHandle>> steps;
    if (OIIO::ColorProcessorHandle direct = config.createColorProcessor(from, to)) {
        steps.emplace({direct});
    } else {
        OIIO::ColorProcessorHandle in, out;
        if ((from == linear || (in = config.createColorProcessor(from, linear))) &&
            (to == linear || (out = config.createColorProcessor(linear, to)))) {
            steps.emplace();
            for (const OIIO::ColorProcessorHandle& p : {in, out}) {
                if (p) steps->push_back(p);
            }
        }
    }
    (void)OIIO::geterror();  // a failed attempt's message is not the one to report
    return steps;
}

// The largest magnitude a conversion may give from finite colour, for
// what it goes to: bytes and integer files clamp any number (though none
// has a right value for NaN), a float file holds up to its type's largest
// finite value and would store anything larger as infinite.
float LargestValueFor(TypeDesc type) {
    if (type == TypeDesc::HALF) return 65504.0f;
    if (type == TypeDesc::FLOAT) return std::numeric_limits<float>::max();
    return std::numeric_limits<float>::infinity();
}

// Converts the w x h RGBA pixels of rgba from one colour space to another;
// restFinite says whether the colour's other pixels, not given, were finite.
void Convert(const std::string& path, std::vector<float>& rgba, int w, int h, const std::string& from,
             const std::string& to, TypeDesc destination, bool restFinite = true) {
    if (from == to) return;
    const auto steps = ConversionSteps(from, to);
    if (!steps) throw ImageError(path + ": " + ConfigName() + " cannot convert " + from + " to " + to);
    if (rgba.empty()) return;
    const auto finite = [](float v) { return std::isfinite(v); };
    const bool wasFinite = restFinite && std::all_of(rgba.begin(), rgba.end(), finite);
    for (const OIIO::ColorProcessorHandle& step : *steps) {
        Apply(path, rgba, w, h, [&](ImageBuf& dst, const ImageBuf& src) {
            return OIIO::ImageBufAlgo::colorconvert(dst, src, step.get(), false);
        });
    }
    // Never NaN or infinity that the colour did not hold: a conversion
    // that makes them is refused rather than passed on.
    if (!wasFinite) return;
    const float largest = LargestValueFor(destination);
    for (const float v : rgba) {
        if (std::isnan(v) || std::fabs(v) > largest) {
            char number[32] = "NaN";
            if (!std::isnan(v)) *std::to_chars(number, number + sizeof number - 1, v).ptr = '\0';
            throw ImageError(path + ": converting " + from + " to " + to + " in " + ConfigName() + " gave " +
                             number + " from finite colour" +
                             (std::isnan(v) ? std::string()
                              : destination == TypeDesc::HALF
                                  ? std::string(", more than a half float holds (outputBits 32 writes float)")
                                  : std::string(", more than a float holds")) +
                             "; the frame is refused");
        }
    }
}

// Attributes that describe the input file's own encoding rather than the
// picture: they would be wrong, or refused, in another file.
bool CarriedOver(const std::string& name) {
    static const char* const kDropped[] = {"oiio:",      "tiff:",    "png:",    "jpeg:",       "openexr:",
                                           "dpx:",       "targa:",   "bmp:",    "compression", "planarconfig",
                                           "ICCProfile", "Software", "lumafex:"};
    for (const char* prefix : kDropped) {
        if (name.rfind(prefix, 0) == 0) return false;
    }
    return true;
}

bool PremultipliedFormat(const std::string& format) { return format == "openexr"; }

// An encoder's output written through an open file descriptor: each write
// goes straight to the file and is checked; the first failure's system
// error is kept for the message (a full disk, a file-size limit).
class DescriptorOutput final : public OIIO::Filesystem::IOProxy {
public:
    explicit DescriptorOutput(int fd) : IOProxy("", IOProxy::Write), fd_(fd) {}
    const char* proxytype() const override { return "descriptor"; }
    size_t write(const void* buffer, size_t size) override {
        const size_t done = pwrite(buffer, size, m_pos);
        m_pos += static_cast<int64_t>(done);
        return done;
    }
    size_t pwrite(const void* buffer, size_t size, int64_t offset) override {
        if (offset < 0) return 0;
        size_t done = 0;
        while (done < size && failure_ == 0) {
            const ssize_t n = ::pwrite(fd_, static_cast<const char*>(buffer) + done, size - done,
                                       static_cast<off_t>(offset) + static_cast<off_t>(done));
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                failure_ = n < 0 ? errno : EIO;
            }
        }
        // The end the encoder meant, so a short file fails the size check.
        end_ = std::max(end_, static_cast<uint64_t>(offset) + size);
        return done;
    }
    size_t read(void*, size_t) override { return 0; }
    size_t pread(void*, size_t, int64_t) override { return 0; }
    size_t size() const override { return static_cast<size_t>(end_); }
    int Failure() const { return failure_; }
    uint64_t End() const { return end_; }

private:
    int fd_;
    int failure_ = 0;
    uint64_t end_ = 0;
};

TypeDesc OutputType(int bits, const std::string& format) {
    if (bits == 32) return TypeDesc::FLOAT;
    if (format == "openexr") return TypeDesc::HALF;
    return bits == 16 ? TypeDesc::UINT16 : TypeDesc::UINT8;
}

// A name of OpenImageIO's gamma spaces ("Gamma" and the gamma, any case)
// spelt "GammaX.Y". OpenImageIO takes whatever number the name starts with,
// so "Gamma22" (2.2 mistyped), "Gamma0" or "Gamma1e400" (infinite) would
// convert colour to garbage or NaN: the gamma must be a plain decimal
// (digits, and a point with digits after it) from 0.1 to 10.
std::string CheckedGammaName(const std::string& name, const std::string& what) {
    constexpr double kLowest = 0.1, kHighest = 10.0;
    const std::string number = name.substr(5);
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const std::size_t point = number.find('.');
    const std::string whole = number.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : number.substr(point + 1);
    const bool plain = !whole.empty() && std::all_of(whole.begin(), whole.end(), digit) &&
                       (point == std::string::npos ||
                        (!fraction.empty() && std::all_of(fraction.begin(), fraction.end(), digit)));
    double gamma = 0.0;
    if (plain) {
        const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), gamma);
        if (ec != std::errc() || end != number.data() + number.size()) gamma = 0.0;
    }
    if (plain && gamma >= kLowest && gamma <= kHighest) return "Gamma" + number;
    std::string message = what + ": colour space \"" + name +
                          "\": the gamma must be a plain decimal from 0.1 to 10 (such as Gamma2.2)";
    // "Gamma22" most likely lost its point.
    if (plain && point == std::string::npos && number.size() >= 2) {
        const std::string pointed = number.substr(0, 1) + "." + number.substr(1);
        double guess = 0.0;
        const auto [end, ec] = std::from_chars(pointed.data(), pointed.data() + pointed.size(), guess);
        if (ec == std::errc() && guess >= kLowest && guess <= kHighest)
            message += "; did you mean \"Gamma" + pointed + "\"?";
    }
    throw std::runtime_error(message);
}

}  // namespace

std::vector<std::string> KnownColourSpaces() { return Config().getColorSpaceNames(); }

void ChooseColourConfiguration(const std::string& file, const std::string& origin) {
    g_chosenFile = file;
    g_chosenOrigin = origin;
    if (!SetEnvironment("OCIO", file.c_str()))
        throw std::runtime_error("cannot put the colour configuration " + file + " in OCIO");
}

std::string ChosenColourConfigurationOrigin() { return g_chosenOrigin; }

void ChooseOutputCompression(const std::string& name) {
    static const std::vector<std::string> kKnown = {"none", "rle",  "zips", "zip",  "piz", "pxr24",
                                                    "b44",  "b44a", "dwaa", "dwab", "lzw", "packbits"};
    const std::size_t colon = name.find(':');
    const std::string method = name.substr(0, colon);
    const std::string level = colon == std::string::npos ? "" : name.substr(colon + 1);
    const bool known = std::find(kKnown.begin(), kKnown.end(), method) != kKnown.end();
    const bool levelled = method == "zip" || method == "dwaa" || method == "dwab";
    const bool goodLevel =
        colon == std::string::npos ||
        (levelled && !level.empty() && level.size() <= 4 &&
         std::all_of(level.begin(), level.end(), [](char c) { return c >= '0' && c <= '9'; }));
    if (known && goodLevel) {
        g_outputCompression = name;
        return;
    }
    std::string message = "unknown compression \"" + name + "\"";
    if (known) message = "\"" + name + "\": only zip, dwaa and dwab take a level (a number after \":\")";
    std::string list;
    for (const std::string& k : kKnown) list += (list.empty() ? "" : ", ") + k;
    message += "; the compressions are " + list;
    if (const std::string near = ClosestName(method, kKnown); !known && !near.empty())
        message += "; did you mean \"" + near + "\"?";
    throw std::runtime_error(message);
}

uint64_t StoredPartsBytes(const ColourInput& input) {
    uint64_t total = 0;
    if (input.metadata)
        for (const StoredPart& part : input.metadata->parts) total += part.pixels.size();
    return total;
}

std::string ColourConfigurationInUse() {
    const ColourConfiguration& c = Configuration();
    return c.file.empty() ? std::string("built-in") : c.file + " (from " + c.origin + ")";
}

std::string ResolveColourSpace(const std::string& name, const std::string& what) {
    const OIIO::ColorConfig& config = Config();
    const std::vector<std::string> names = config.getColorSpaceNames();
    const std::string lowered = Lower(name);
    for (const std::string& n : names) {
        if (n == name) return n;
    }
    for (const std::string& n : names) {
        if (Lower(n) == lowered) return n;
    }
    if (const char* role = config.getColorSpaceNameByRole(name)) {
        for (const std::string& n : names) {
            if (n == role) return n;
        }
    }
    for (const std::string& n : names) {
        for (const std::string& alias : config.getAliases(n)) {
            if (Lower(alias) == lowered) return n;
        }
    }
    // OpenImageIO's own names, which it converts under any configuration
    // that relates them to a linear space.
    const auto convertible = [&](const std::string& space) {
        return ConversionSteps(space, LinearSpace()) && ConversionSteps(LinearSpace(), space);
    };
    std::string canonical;
    for (const char* builtIn : {"linear", "sRGB", "Rec709"}) {
        if (Lower(builtIn) == lowered) canonical = builtIn;
    }
    if (canonical.empty() && lowered.rfind("gamma", 0) == 0) canonical = CheckedGammaName(name, what);
    if (!canonical.empty() && convertible(canonical)) return canonical;

    std::vector<std::string> offered = names;
    for (const char* builtIn : {"linear", "sRGB", "Rec709"}) {
        const bool listed = std::any_of(names.begin(), names.end(),
                                        [&](const std::string& n) { return Lower(n) == Lower(builtIn); });
        if (!listed && convertible(builtIn)) offered.push_back(builtIn);
    }
    std::string message = what + ": unknown colour space \"" + name + "\"";
    std::string known;
    for (const std::string& n : offered) known += (known.empty() ? "" : ", ") + n;
    std::string roles;
    for (const std::string& r : config.getRoles()) roles += (roles.empty() ? "" : ", ") + r;
    message +=
        "; " + ConfigName() + " knows " + known + (roles.empty() ? "" : " (and the roles " + roles + ")");
    if (convertible("Gamma2.2")) message += ", and GammaX.Y for a gamma from 0.1 to 10 (such as Gamma2.2)";
    std::vector<std::string> candidates = offered;
    for (const std::string& r : config.getRoles()) candidates.push_back(r);
    if (const std::string near = ClosestName(name, candidates); !near.empty())
        message += "; did you mean \"" + near + "\"?";
    throw std::runtime_error(message);
}

namespace {

// The colour's channels, colour space and alpha convention, as the request
// and the file give them.
ColourInput DescribeColour(const std::string& path, const ImageSpec& layout, const ColourChannels& pick,
                           const ColourRequest& request) {
    ColourInput in;
    in.channels = pick.description;
    const std::string tagged = layout.get_string_attribute("oiio:ColorSpace");
    bool anyFloat = false;
    for (int c : pick.index) anyFloat = anyFloat || (c >= 0 && IsFloat(layout.channelformat(c)));
    if (!request.colourSpace.empty()) {
        in.colourSpace = ResolveColourSpace(request.colourSpace, path + ": colorSpace");
    } else if (!tagged.empty()) {
        in.colourSpace =
            ResolveColourSpace(tagged, path + ": the file's colour space (\"colorSpace\" overrides it)");
    } else {
        in.colourSpace = ResolveColourSpace(anyFloat ? LinearSpace() : "sRGB", path + ": by its type");
    }
    // Whatever OpenImageIO does not call unassociated is premultiplied: the
    // EXR convention, and any file whose metadata says so.
    in.premultiplied = pick.index[3] >= 0 && layout.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    return in;
}

bool AllBytes(const ImageSpec& layout, const ColourChannels& pick) {
    for (int c : pick.index) {
        if (c >= 0 && layout.channelformat(c) != TypeDesc::UINT8) return false;
    }
    return true;
}

// Colour that is not the working space's bytes: as floats (a missing alpha
// 1), unpremultiplied, converted to the working space and quantised. Values
// beyond bytes are kept in the working space for the output.
void ReadConvertedColour(const std::string& path, OpenedFile& file, const StoredPart* stored,
                         const ColourChannels& pick, const std::string& working, bool allBytes,
                         ColourInput& in) {
    const int w = in.image.width, h = in.image.height;
    const std::size_t n = PixelCount(w, h);
    std::vector<float> rgba(n * 4, 1.0f);
    float* const starts[4] = {rgba.data(), rgba.data() + 1, rgba.data() + 2, rgba.data() + 3};
    PickedValues(path, file, stored, pick, TypeDesc::FLOAT, starts, 4);
    if (in.premultiplied) {
        Apply(path, rgba, w, h,
              [](ImageBuf& dst, const ImageBuf& src) { return OIIO::ImageBufAlgo::unpremult(dst, src); });
    }
    Convert(path, rgba, w, h, in.colourSpace, working, TypeDesc::UINT8);
    std::vector<uint8_t>* planes[4] = {&in.image.red, &in.image.green, &in.image.blue, &in.image.alpha};
    for (std::size_t i = 0; i < n; ++i) {
        for (int k = 0; k < 4; ++k) (*planes[k])[i] = FloatToByte(rgba[4 * i + static_cast<std::size_t>(k)]);
    }
    if (!allBytes) {
        auto values = std::make_shared<ColourValues>();
        values->working = std::move(rgba);
        in.values = std::move(values);
    }
}

}  // namespace

ColourInput ReadFrameColourWithLibrary(const std::string& path, const ColourRequest& request) {
    OpenedFile file = OpenParts(path);
    const ColourChannels pick = PickColourChannels(Channels(file), request.layer, path);
    const ImageSpec& layout = CheckedPart(path, file, pick.part);
    const std::string working = ResolveColourSpace(request.workingSpace, "workingSpace");
    ColourInput in = DescribeColour(path, layout, pick, request);
    const bool allBytes = AllBytes(layout, pick);
    auto kept = std::make_shared<ImageMetadata>();
    kept->attributes = layout.extra_attribs;
    kept->path = path;
    kept->colourPart = pick.part;
    std::copy(pick.index, pick.index + 4, kept->colourIndex);
    // A file with more than its colour's bytes is decoded once, whole, and
    // kept: the colour, a depth channel in the same file and everything the
    // output passes through all come from that one read.
    if (HoldsMore(file, pick)) kept->parts = ReadParts(path, file);
    const StoredPart* stored =
        kept->parts.empty() ? nullptr : &kept->parts[static_cast<std::size_t>(pick.part)];
    in.metadata = kept;
    g_lastRead = kept;

    in.image.Resize(layout.width, layout.height);
    if (allBytes && in.colourSpace == working && !in.premultiplied) {
        // Bytes in the working space reach the module exactly as stored.
        uint8_t* const planes[4] = {in.image.red.data(), in.image.green.data(), in.image.blue.data(),
                                    in.image.alpha.data()};
        PickedValues(path, file, stored, pick, TypeDesc::UINT8, planes, 1);
        return in;
    }
    ReadConvertedColour(path, file, stored, pick, working, allBytes, in);
    return in;
}

DepthImage ReadFrameDepthWithLibrary(const std::string& path, const std::string& channel) {
    DepthImage depth;
    // The file this thread's last colour came from, while that colour is
    // still held: its depth is taken from the same decoded parts.
    if (const std::shared_ptr<const ImageMetadata> same = g_lastRead.lock();
        same && same->path == path && !same->parts.empty()) {
        const NamedChannel pick = PickDepthChannel(Channels(same->parts), channel, path);
        const StoredPart& part = same->parts[static_cast<std::size_t>(pick.part)];
        depth.width = part.layout.width;
        depth.height = part.layout.height;
        depth.channel = pick.fullName;
        depth.value.resize(PixelCount(depth.width, depth.height));
        ChannelValues(path, part, pick.index, TypeDesc::FLOAT, depth.value.data(), sizeof(float));
        return depth;
    }
    OpenedFile file = OpenParts(path);
    const NamedChannel pick = PickDepthChannel(Channels(file), channel, path);
    const ImageSpec& layout = CheckedPart(path, file, pick.part);
    depth.width = layout.width;
    depth.height = layout.height;
    depth.channel = pick.fullName;
    depth.value.resize(PixelCount(depth.width, depth.height));
    ReadChannel(path, file, pick.part, pick.index, TypeDesc::FLOAT, depth.value.data(), 1);
    return depth;
}

void CheckOutputFormatWithLibrary(const std::string& path, int bits) {
    std::unique_ptr<ImageOutput> output = ImageOutput::create(path);
    if (!output) {
        throw ImageError(path + ": cannot write \"." + Extension(path) + "\" images: " + OIIO::geterror());
    }
    const std::string format = output->format_name();
    if (bits == 32 && format != "openexr" && format != "tiff") {
        throw ImageError(path + ": " + format +
                         " cannot store 32-bit float (outputBits 32 is for EXR and TIFF)");
    }
    if (bits == 16 && (format == "jpeg" || format == "gif" || format == "bmp" || format == "targa")) {
        throw ImageError(path + ": " + format + " stores only 8 bits (outputBits)");
    }
}

namespace {

// The provenance every output records, on each of its parts.
void RecordProvenance(ImageSpec& layout, const ColourInput& source, const OutputRequest& request) {
    layout.attribute("Software", ProgramVersion());
    layout.attribute("lumafex:colorConfig", ColourConfigurationInUse());
    std::string lines;
    for (const std::string& line : request.settingsLines) lines += (lines.empty() ? "" : "\n") + line;
    layout.attribute("lumafex:settings", lines);
    layout.attribute("lumafex:input", source.channels + " (" + source.colourSpace +
                                          (source.premultiplied ? ", premultiplied" : "") + ")");
}

// A warning given once per run for each kind (every frame of a sequence
// would give the same one, naming its own files); outputs may be written
// on several threads at once.
void WarnOnce(const std::string& kind, const std::string& text) {
    static std::mutex lock;
    static std::set<std::string> given;
    {
        const std::lock_guard<std::mutex> hold(lock);
        if (!given.insert(kind).second) return;
    }
    LogMessage(LogLevel::Warning, text);
}

// What an output that holds only the colour loses of its input: other
// channels and parts, and windows away from the origin. Said once per run.
void WarnOfWhatIsLost(const std::string& path, const std::string& format, const ImageMetadata& kept) {
    std::vector<std::string> lost;
    int otherParts = 0;
    for (std::size_t s = 0; s < kept.parts.size(); ++s) {
        const ImageSpec& l = kept.parts[s].layout;
        if (static_cast<int>(s) != kept.colourPart) {
            ++otherParts;
            continue;
        }
        for (int c = 0; c < l.nchannels; ++c) {
            if (std::find(kept.colourIndex, kept.colourIndex + 4, c) == kept.colourIndex + 4)
                lost.push_back(l.channelnames[static_cast<std::size_t>(c)]);
        }
    }
    std::string what;
    if (!lost.empty()) {
        std::string names;
        for (std::size_t i = 0; i < lost.size() && i < 8; ++i) names += (i ? ", " : "") + lost[i];
        if (lost.size() > 8) names += " and " + std::to_string(lost.size() - 8) + " more";
        what += "the channels " + names;
    }
    if (otherParts > 0) what += (what.empty() ? "" : ", ") + std::to_string(otherParts) + " other part(s)";
    if (!kept.parts.empty()) {
        const ImageSpec& l = kept.parts[static_cast<std::size_t>(kept.colourPart)].layout;
        if (AwayFromOrigin(l)) {
            what += (what.empty() ? "" : ", ") + std::string("the data window ") + std::to_string(l.width) +
                    "x" + std::to_string(l.height) + " at " + std::to_string(l.x) + "," +
                    std::to_string(l.y) + " in the display window " + std::to_string(l.full_width) + "x" +
                    std::to_string(l.full_height) + " at " + std::to_string(l.full_x) + "," +
                    std::to_string(l.full_y) + " (written at the origin)";
        }
    }
    if (what.empty()) return;
    WarnOnce(format + ": " + what,
             path + ": " + format + " holds only the colour, so the output leaves out what the input " +
                 kept.path + " has beside it: " + what + "; write EXR to keep everything");
}

// Where the colour's alpha goes in a pass-through output when its input had
// none: beside its red channel ("ViewLayer.Combined.R": "ViewLayer.Combined.A").
std::string AlphaNameBeside(const std::string& red) {
    const std::size_t dot = red.rfind('.');
    return (dot == std::string::npos ? std::string() : red.substr(0, dot + 1)) + "A";
}

// The type a colour channel is written in: outputBits 32 float, 16 half;
// by default the channel's own half or float, else half.
TypeDesc PassThroughType(int bits, TypeDesc stored) {
    if (bits == 32) return TypeDesc::FLOAT;
    if (bits == 16) return TypeDesc::HALF;
    return stored == TypeDesc::FLOAT ? TypeDesc::FLOAT : TypeDesc::HALF;
}

// DPX records how its values are encoded: its transfer characteristic, by
// the output's colour space.
std::string DpxTransfer(const std::string& space) {
    const std::string lowered = Lower(space);
    if (lowered == Lower(LinearSpace()) || lowered.find("linear") != std::string::npos) return "Linear";
    if (lowered == "rec709" || lowered.find("709") != std::string::npos) return "ITU-R 709-4";
    if (lowered.find("log") != std::string::npos) return "Logarithmic";
    return "User defined";
}

// The colour part of a kept input, if any.
const StoredPart* ColourPartOf(const ImageMetadata* kept) {
    return kept && !kept->parts.empty() ? &kept->parts[static_cast<std::size_t>(kept->colourPart)] : nullptr;
}

// How an output is written: its format, and its colour's type, colour
// space and alpha convention.
struct OutputForm {
    std::string format;
    bool alpha = false;
    bool premultiply = false;
    TypeDesc type;
    std::string working, space;
    std::string compression;  // empty: the input's (EXR), else the format's default
    // An EXR output of an input kept whole is the input again with the
    // colour (and alpha) replaced: every part, channel, type, window, tile
    // size, line order, compression and attribute as it was.
    bool passThrough = false;
    TypeDesc storedAs;  // what the colour is stored as, for the largest value a conversion may give
};

OutputForm ChooseOutputForm(const std::string& path, const ImageOutput& output, const ColourImage& result,
                            const ColourInput& source, const OutputRequest& request) {
    OutputForm form;
    form.format = output.format_name();
    form.alpha = output.supports("alpha");
    form.premultiply = form.alpha && PremultipliedFormat(form.format);
    form.type = OutputType(request.bits, form.format);
    form.working = ResolveColourSpace(request.workingSpace, "workingSpace");
    form.space = form.working;
    if (!request.colourSpace.empty()) {
        form.space = ResolveColourSpace(request.colourSpace, "outputColorSpace");
    } else if (IsFloat(form.type) && !source.colourSpace.empty()) {
        form.space = source.colourSpace;
    }
    form.compression = request.compression.empty() ? g_outputCompression : request.compression;
    const ImageMetadata* kept = source.metadata.get();
    const StoredPart* colourPart = ColourPartOf(kept);
    const bool grey = kept && kept->colourIndex[0] == kept->colourIndex[1];
    form.passThrough = form.format == "openexr" && colourPart && !grey &&
                       colourPart->layout.width == result.width && colourPart->layout.height == result.height;
    if (!form.passThrough && colourPart) WarnOfWhatIsLost(path, form.format, *kept);
    form.storedAs = form.type;
    if (form.passThrough) {
        form.storedAs = TypeDesc::FLOAT;
        for (int c : kept->colourIndex) {
            if (c >= 0 &&
                PassThroughType(request.bits, colourPart->layout.channelformat(c)) == TypeDesc::HALF)
                form.storedAs = TypeDesc::HALF;
        }
    }
    return form;
}

// The one image of an output that is not a pass-through: its channels,
// type, colour space, the input's metadata and the provenance.
ImageSpec ColourLayout(const OutputForm& form, int w, int h, const ColourInput& source,
                       const OutputRequest& request) {
    ImageSpec layout(w, h, form.alpha ? 4 : 3, form.type);
    if (form.alpha) {
        layout.alpha_channel = 3;
        if (!form.premultiply) layout.attribute("oiio:UnassociatedAlpha", 1);
    }
    if (source.metadata) {
        for (const OIIO::ParamValue& p : source.metadata->attributes) {
            if (CarriedOver(p.name().string())) layout.attribute(p.name().string(), p.type(), p.data());
        }
    }
    layout.attribute("oiio:ColorSpace", form.space);
    if (form.format == "png" && request.pngCompression >= 0)
        layout.attribute("png:compressionLevel", request.pngCompression);
    if (form.format == "dpx") layout.attribute("dpx:Transfer", DpxTransfer(form.space));
    if (!form.compression.empty()) layout.attribute("compression", form.compression);
    RecordProvenance(layout, source, request);
    return layout;
}

// The colour an output stores, as floats in its colour space and alpha
// convention: every pixel's, or only those of the pixels the module
// changed where the others keep the input's stored values.
struct OutputColour {
    std::vector<float> rgba;      // 4 values a pixel, in pixel order (then padding)
    std::size_t pixels = 0;       // how many pixels rgba holds
    std::vector<uint8_t> chosen;  // 1 for the pixels rgba holds; empty: every pixel
};

// The pixels the module changed: any of their bytes differ from the input's.
std::vector<uint8_t> ChangedPixels(const ColourImage& result, const ColourImage& before) {
    std::vector<uint8_t> changed(result.red.size(), 0);
    for (std::size_t i = 0; i < changed.size(); ++i) {
        changed[i] = result.red[i] != before.red[i] || result.green[i] != before.green[i] ||
                     result.blue[i] != before.blue[i] || result.alpha[i] != before.alpha[i];
    }
    return changed;
}

// A float or 16-bit output of an input that held more than bytes keeps the
// input's values: a changed pixel is the input's unclamped working-space
// value plus the module's change to its bytes, converted back (at the
// output's full precision, whatever its colour space), and in the same
// colour space and alpha convention a pixel whose bytes the module gave
// back unchanged is stored as the input stored it (above 1, below 0,
// emission under alpha 0), so only the changed pixels are converted.
// Other outputs convert the module's bytes.
OutputColour ConvertedColour(const std::string& path, const ColourImage& result, const ColourInput& source,
                             const OutputForm& form) {
    const int w = result.width;
    const std::size_t n = PixelCount(w, result.height);
    const ColourValues* values = source.values.get();
    const StoredPart* colourPart = ColourPartOf(source.metadata.get());
    const bool keep = values && form.type != TypeDesc::UINT8 && source.image.width == w &&
                      source.image.height == result.height && values->working.size() == n * 4 && colourPart &&
                      colourPart->layout.width == w && colourPart->layout.height == result.height;
    OutputColour out;
    if (keep && form.space == source.colourSpace && form.premultiply == source.premultiplied)
        out.chosen = ChangedPixels(result, source.image);
    out.pixels = out.chosen.empty()
                     ? n
                     : static_cast<std::size_t>(std::count(out.chosen.begin(), out.chosen.end(), 1));
    // Converted as rows of the output's width (the threads share them), the
    // last row padded with its last pixel again.
    const std::size_t width = static_cast<std::size_t>(w), rows = (out.pixels + width - 1) / width;
    out.rgba.resize(rows * width * 4);
    const std::vector<uint8_t>* planes[4] = {&result.red, &result.green, &result.blue, &result.alpha};
    const std::vector<uint8_t>* before[4] = {&source.image.red, &source.image.green, &source.image.blue,
                                             &source.image.alpha};
    bool restFinite = true;
    float* to = out.rgba.data();
    for (std::size_t i = 0; i < n; ++i) {
        if (!out.chosen.empty() && !out.chosen[i]) {
            for (std::size_t k = 0; k < 4; ++k)
                restFinite = restFinite && std::isfinite(values->working[4 * i + k]);
            continue;
        }
        for (std::size_t k = 0; k < 4; ++k) {
            const double byte = (*planes[k])[i];
            *to++ = keep ? static_cast<float>(values->working[4 * i + k] + (byte - (*before[k])[i]) / 255.0)
                         : static_cast<float>(byte / 255.0);
        }
    }
    for (float* pad = to; out.pixels > 0 && pad < out.rgba.data() + out.rgba.size(); pad += 4)
        std::copy(to - 4, to, pad);
    const int h = static_cast<int>(rows);
    Convert(path, out.rgba, w, h, form.working, form.space, form.storedAs, restFinite);
    if (form.premultiply && h > 0) {
        Apply(path, out.rgba, w, h,
              [](ImageBuf& dst, const ImageBuf& src) { return OIIO::ImageBufAlgo::premult(dst, src); });
    }
    return out;
}

// Every pixel's colour for an output of one image: the converted ones, and
// the input's stored values (a missing alpha 1) for the others.
std::vector<float> WholeColour(const std::string& path, OutputColour&& colour, const ColourInput& source,
                               std::size_t n) {
    if (colour.chosen.empty()) {
        colour.rgba.resize(n * 4);
        return std::move(colour.rgba);
    }
    std::vector<float> rgba(n * 4, 1.0f);
    const ImageMetadata& kept = *source.metadata;
    const StoredPart& part = *ColourPartOf(&kept);
    for (int k = 0; k < 4; ++k) {
        if (kept.colourIndex[k] >= 0)
            ChannelValues(path, part, kept.colourIndex[k], TypeDesc::FLOAT, rgba.data() + k,
                          4 * sizeof(float));
    }
    const float* from = colour.rgba.data();
    for (std::size_t i = 0; i < n; ++i) {
        if (!colour.chosen[i]) continue;
        std::copy(from, from + 4, rgba.data() + 4 * i);
        from += 4;
    }
    return rgba;
}

// The parts an output writes: its one colour image, or the input's parts
// with the colour replaced.
struct OutputParts {
    std::vector<ImageSpec> layouts;
    std::vector<const void*> data;
    std::vector<TypeDesc> types;               // UNKNOWN: every channel in its own type
    OIIO::stride_t stride = OIIO::AutoStride;  // from pixel to pixel of data given in one type
    std::vector<unsigned char> bytes;          // an image's bytes, or a pass-through's colour part
    std::vector<float> floats;                 // an image's float values
};

// The output of one image in the output's type and colour space.
void OneImage(const std::string& path, const ColourImage& result, const ColourInput& source,
              const OutputRequest& request, const OutputForm& form, OutputParts& out) {
    const std::size_t n = PixelCount(result.width, result.height);
    out.layouts.push_back(ColourLayout(form, result.width, result.height, source, request));
    if (form.type == TypeDesc::UINT8 && form.space == form.working && !form.premultiply) {
        // The module's bytes, stored as they are.
        out.bytes.resize(n * 4);
        for (std::size_t i = 0; i < n; ++i) {
            out.bytes[4 * i] = result.red[i];
            out.bytes[4 * i + 1] = result.green[i];
            out.bytes[4 * i + 2] = result.blue[i];
            out.bytes[4 * i + 3] = result.alpha[i];
        }
        out.data.push_back(out.bytes.data());
        out.types.push_back(TypeDesc::UINT8);
        out.stride = 4;
        return;
    }
    out.floats = WholeColour(path, ConvertedColour(path, result, source, form), source, n);
    out.data.push_back(out.floats.data());
    out.types.push_back(TypeDesc::FLOAT);
    out.stride = 4 * sizeof(float);
}

// The input's parts again, described anew where the output records itself.
void KeptLayouts(const std::string& path, const ImageMetadata& kept, const ColourInput& source,
                 const OutputRequest& request, const std::string& compression, OutputParts& out) {
    for (const StoredPart& part : kept.parts) {
        ImageSpec l = part.layout;
        // What described the input's reading, or is recorded anew.
        for (const char* name :
             {"oiio:subimages", "oiio:UnassociatedAlpha", "oiio:BitsPerSample", "openexr:chunkCount"})
            l.erase_attribute(name);
        for (std::size_t a = l.extra_attribs.size(); a-- > 0;) {
            if (l.extra_attribs[a].name().string().rfind("lumafex:", 0) == 0)
                l.extra_attribs.erase(l.extra_attribs.begin() + static_cast<std::ptrdiff_t>(a));
        }
        if (!compression.empty()) l.attribute("compression", compression);
        const std::string method = l.get_string_attribute("compression").substr(0, 4).str();
        if (method == "dwaa" || method == "dwab" || method == "b44" || method == "b44a") {
            WarnOnce("lossy " + method,
                     path + ": " + l.get_string_attribute("compression").str() +
                         " is a lossy compression: the colour is stored with a loss again each time it is "
                         "written (--compression zip keeps every value)");
        }
        RecordProvenance(l, source, request);
        out.layouts.push_back(l);
        out.data.push_back(part.pixels.data());
        out.types.push_back(TypeDesc::UNKNOWN);
    }
}

// The colour part's layout in a pass-through output: each colour channel in
// its new type, and an alpha beside the colour where the module made pixels
// of an input without one transparent. Returns where R, G, B and A are.
std::array<int, 4> ColourPartLayout(const std::string& path, const ColourImage& result,
                                    const ImageMetadata& kept, const OutputRequest& request,
                                    const std::string& space, ImageSpec& after) {
    const ImageSpec& before = ColourPartOf(&kept)->layout;
    after.attribute("oiio:ColorSpace", space);
    after.channelformats.resize(static_cast<std::size_t>(before.nchannels));
    for (int c = 0; c < before.nchannels; ++c)
        after.channelformats[static_cast<std::size_t>(c)] = before.channelformat(c);
    std::array<int, 4> index{};
    std::copy(kept.colourIndex, kept.colourIndex + 4, index.begin());
    // An input without alpha gains one only where the module made some of
    // its pixels transparent.
    if (index[3] < 0 &&
        std::any_of(result.alpha.begin(), result.alpha.end(), [](uint8_t a) { return a != 255; })) {
        const std::string name = AlphaNameBeside(before.channelnames[static_cast<std::size_t>(index[0])]);
        if (std::find(before.channelnames.begin(), before.channelnames.end(), name) !=
            before.channelnames.end())
            throw ImageError(path +
                             ": the module made pixels transparent, but the input's colour has no alpha "
                             "and its channel " +
                             name + " is something else");
        index[3] = after.nchannels++;
        after.channelnames.push_back(name);
        after.channelformats.push_back(TypeDesc::HALF);
        after.alpha_channel = index[3];
    }
    for (int c : index) {
        if (c >= 0) {
            TypeDesc& t = after.channelformats[static_cast<std::size_t>(c)];
            t = PassThroughType(request.bits, t);
        }
    }
    return index;
}

// The colour's new values into a pass-through's colour part (pixel bytes
// apart): every pixel's, or the changed pixels' only.
void StoreColour(const std::string& path, const OutputColour& colour, const ImageSpec& after,
                 const std::array<int, 4>& index, bool addedAlpha, unsigned char* data) {
    const std::size_t pixel = after.pixel_bytes(true), n = PixelCount(after.width, after.height);
    const int rows = static_cast<int>(colour.rgba.size() / 4 / static_cast<std::size_t>(after.width));
    std::vector<unsigned char> converted;
    for (std::size_t k = 0; k < 4; ++k) {
        if (index[k] < 0) continue;
        const TypeDesc t = after.channelformat(index[k]);
        const std::size_t offset = ChannelOffset(after, index[k]), size = t.size();
        if (addedAlpha && k == 3 && !colour.chosen.empty()) {
            // An added alpha has no stored values to keep: 1 where unchanged.
            const float one = 1.0f;
            unsigned char value[sizeof(double)] = {};
            OIIO::convert_pixel_values(TypeDesc::FLOAT, &one, t, value, 1);
            for (std::size_t i = 0; i < n; ++i) std::memcpy(data + i * pixel + offset, value, size);
        }
        converted.resize(colour.rgba.size() / 4 * size);
        if (rows > 0 && !OIIO::convert_image(1, after.width, rows, 1, colour.rgba.data() + k, TypeDesc::FLOAT,
                                             4 * sizeof(float),
                                             4 * sizeof(float) * static_cast<OIIO::stride_t>(after.width),
                                             OIIO::AutoStride, converted.data(), t, OIIO::AutoStride,
                                             OIIO::AutoStride, OIIO::AutoStride))
            throw ImageError(path + ": cannot convert the colour: " + OIIO::geterror());
        const unsigned char* from = converted.data();
        for (std::size_t i = 0; i < n; ++i) {
            if (!colour.chosen.empty() && !colour.chosen[i]) continue;
            std::memcpy(data + i * pixel + offset, from, size);
            from += size;
        }
    }
}

// The colour part of a pass-through output: the input's part again, each
// channel in its new type, with the colour's new values. Where nothing
// changes (no pixel, no type) it is the input's part itself.
void PassThroughColour(const std::string& path, const ColourImage& result, const ImageMetadata& kept,
                       const OutputRequest& request, const OutputForm& form, const OutputColour& colour,
                       OutputParts& out) {
    const auto part = static_cast<std::size_t>(kept.colourPart);
    const StoredPart& stored = *ColourPartOf(&kept);
    const ImageSpec& before = stored.layout;
    ImageSpec& after = out.layouts[part];
    const std::array<int, 4> index = ColourPartLayout(path, result, kept, request, form.space, after);
    const bool addedAlpha = kept.colourIndex[3] < 0 && index[3] >= 0;
    bool sameTypes = !addedAlpha;
    for (int c = 0; c < before.nchannels; ++c)
        sameTypes = sameTypes && after.channelformat(c) == before.channelformat(c);
    if (sameTypes && colour.pixels == 0) return;
    const std::size_t n = PixelCount(before.width, before.height);
    const auto beforePixel = static_cast<OIIO::stride_t>(before.pixel_bytes(true));
    const auto afterPixel = static_cast<OIIO::stride_t>(after.pixel_bytes(true));
    CheckAllocation(path, "the output's colour part", {n, static_cast<uint64_t>(afterPixel)});
    if (sameTypes) {
        out.bytes.assign(stored.pixels.begin(), stored.pixels.end());
    } else {
        out.bytes.resize(n * static_cast<std::size_t>(afterPixel));
        for (int c = 0; c < before.nchannels; ++c) {
            if (!OIIO::convert_image(1, before.width, before.height, 1,
                                     stored.pixels.data() + ChannelOffset(before, c), before.channelformat(c),
                                     beforePixel, beforePixel * before.width, OIIO::AutoStride,
                                     out.bytes.data() + ChannelOffset(after, c), after.channelformat(c),
                                     afterPixel, afterPixel * before.width, OIIO::AutoStride))
                throw ImageError(path + ": cannot convert the input's channels: " + OIIO::geterror());
        }
    }
    StoreColour(path, colour, after, index, addedAlpha, out.bytes.data());
    out.data[part] = out.bytes.data();
}

// Opens the output under name and writes every part.
bool EncodeParts(ImageOutput& output, const std::string& name, const OutputParts& parts) {
    const bool opened = parts.layouts.size() == 1
                            ? output.open(name, parts.layouts[0])
                            : output.open(name, static_cast<int>(parts.layouts.size()), parts.layouts.data());
    if (!opened) return false;
    for (std::size_t s = 0; s < parts.layouts.size(); ++s) {
        if (s > 0 && !output.open(name, parts.layouts[s], ImageOutput::AppendSubimage)) return false;
        const OIIO::stride_t stride = parts.types[s] == TypeDesc::UNKNOWN ? OIIO::AutoStride : parts.stride;
        if (!output.write_image(parts.types[s], parts.data[s], stride)) return false;
    }
    return true;
}

// Encodes through the descriptor itself, every write checked; returns the
// file's length.
uint64_t EncodeThroughDescriptor(const std::string& path, std::unique_ptr<ImageOutput>& output,
                                 const OutputParts& parts, int fd) {
    DescriptorOutput sink(fd);
    // The writer goes before the proxy it writes to, whatever happens:
    // after a failure it still writes on closing.
    struct CloseFirst {
        std::unique_ptr<ImageOutput>& writer;
        ~CloseFirst() { writer.reset(); }
    } closeFirst{output};
    // Some encoders (PNG) do not check what their writes return: a failed
    // write fails the image whatever the encoder says.
    const bool encoded = output->set_ioproxy(&sink) && EncodeParts(*output, path, parts) && output->close();
    if (sink.Failure() != 0)
        throw ImageError(path + ": cannot write: " + std::strerror(sink.Failure()) +
                         " (nothing was changed)");
    if (!encoded)
        throw ImageError(path + ": cannot write image: " + output->geterror() + " (nothing was changed)");
    return sink.End();
}

// OpenImageIO 2.4's TIFF writer loses tags, or its directory, when it
// writes through a proxy, and it writes a multi-part EXR by its name
// whatever proxy it is given, so those open the file by name: the
// descriptor's own name under /proc, which reaches this very file whatever
// is done to its name in the folder meanwhile. Returns the file's length.
uint64_t EncodeByName(const std::string& path, ImageOutput& output, const std::string& format,
                      const OutputParts& parts, int fd) {
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    struct stat mine {
    }, named{};
    if (fstat(fd, &mine) != 0 || stat(name.c_str(), &named) != 0 || mine.st_dev != named.st_dev ||
        mine.st_ino != named.st_ino) {
        throw ImageError(path + ": cannot write " + format +
                         " images here: /proc/self/fd is not available (nothing was changed)");
    }
    if (!EncodeParts(output, name, parts) || !output.close())
        throw ImageError(path + ": cannot write image: " + output.geterror() + " (nothing was changed)");
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) throw ImageError(path + ": cannot write image: " + std::strerror(errno));
    return static_cast<uint64_t>(end);
}

}  // namespace

void WriteFrameOutputWithLibrary(const std::string& path, const ColourImage& result,
                                 const ColourInput& source, const OutputRequest& request) {
    CheckOutputFormatWithLibrary(path, request.bits);
    std::unique_ptr<ImageOutput> output = ImageOutput::create(path);
    if (!output) throw ImageError(path + ": cannot write this format: " + OIIO::geterror());
    const OutputForm form = ChooseOutputForm(path, *output, result, source, request);
    OutputParts parts;
    if (form.passThrough) {
        const OutputColour colour = ConvertedColour(path, result, source, form);
        KeptLayouts(path, *source.metadata, source, request, form.compression, parts);
        PassThroughColour(path, result, *source.metadata, request, form, colour, parts);
    } else {
        OneImage(path, result, source, request, form, parts);
    }
    if (parts.layouts.size() > 1 && !output->supports("multiimage"))
        throw ImageError(path + ": " + form.format + " cannot hold several parts");
    // Encoded straight into the write's own temporary file beside the
    // target (created there new and exclusively, so no other file is ever
    // opened), then checked, flushed to the disk and renamed over the
    // target: a full disk, a file-size limit or any failure never leaves a
    // truncated output behind.
    WriteFileSafelyFrom(path, [&](intptr_t file) -> uint64_t {
        const int fd = static_cast<int>(file);
        if ((form.format == "png" || form.format == "openexr") && parts.layouts.size() == 1)
            return EncodeThroughDescriptor(path, output, parts, fd);
        return EncodeByName(path, *output, form.format, parts, fd);
    });
}

}  // namespace lumafex::tool
