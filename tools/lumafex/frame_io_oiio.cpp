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
#include <stdexcept>

#include "channels.h"
#include "files.h"
#include "filters_by_name.h"
#include "frame_io.h"
#include "image_io.h"
#include "image_limits_oiio.h"
#include "system.h"

namespace lumafex::tool {

struct ImageMetadata {
    OIIO::ParamValueList attributes;
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
    std::unique_ptr<ImageInput> input;
    std::vector<ImageSpec> parts;
};

OpenedFile OpenParts(const std::string& path) {
    CheckRegularFile(path);
    SetDecoderLimits();
    ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    OpenedFile file;
    file.input = ImageInput::open(path, &config);
    if (!file.input) throw ImageError(path + ": cannot read image: " + OIIO::geterror());
    ImageSpec layout;
    for (int s = 0; file.input->seek_subimage(s, 0, layout); ++s) {
        if (s == kMaxParts)
            throw ImageError(path + ": more than " + std::to_string(kMaxParts) + " parts");
        // Every part's layout is checked before any pixel is read.
        CheckDecoderLayout(path, layout);
        file.parts.push_back(layout);
    }
    if (file.parts.empty()) throw ImageError(path + ": image has no parts");
    return file;
}

std::vector<NamedChannel> Channels(const OpenedFile& file) {
    std::vector<std::string> partNames;
    std::vector<std::vector<std::string>> channelNames;
    for (const ImageSpec& layout : file.parts) {
        // A one-part file's name (if any) is not a layer prefix.
        partNames.push_back(file.parts.size() > 1 ? layout.get_string_attribute("oiio:subimagename")
                                                  : "");
        channelNames.push_back(layout.channelnames);
    }
    return ListChannels(partNames, channelNames);
}

const ImageSpec& CheckedPart(const std::string& path, const OpenedFile& file, int part) {
    const ImageSpec& layout = file.parts[static_cast<std::size_t>(part)];
    CheckImageSize(path, layout.width, layout.height);
    if (layout.depth > 1) throw ImageError(path + ": volume images are not supported");
    return layout;
}

// One channel of a part into every stride-th value of out.
template <typename T>
void ReadChannel(const std::string& path, OpenedFile& file, int part, int channel, TypeDesc type,
                 T* out, int stride) {
    if (!file.input->read_image(part, 0, channel, channel + 1, type, out,
                                static_cast<OIIO::stride_t>(sizeof(T)) * stride))
        throw ImageError(path + ": cannot read pixels: " + file.input->geterror());
}

bool IsFloat(TypeDesc t) {
    return t.basetype == TypeDesc::HALF || t.basetype == TypeDesc::FLOAT ||
           t.basetype == TypeDesc::DOUBLE;
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

void Convert(const std::string& path, std::vector<float>& rgba, int w, int h, const std::string& from,
             const std::string& to, TypeDesc destination) {
    if (from == to) return;
    const auto steps = ConversionSteps(from, to);
    if (!steps) throw ImageError(path + ": " + ConfigName() + " cannot convert " + from + " to " + to);
    const auto finite = [](float v) { return std::isfinite(v); };
    const bool wasFinite = std::all_of(rgba.begin(), rgba.end(), finite);
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
    static const char* const kDropped[] = {
        "oiio:", "tiff:",       "png:",         "jpeg:",      "openexr:", "dpx:",    "targa:",
        "bmp:",  "compression", "planarconfig", "ICCProfile", "Software", "lumafex:"};
    for (const char* prefix : kDropped) {
        if (name.rfind(prefix, 0) == 0) return false;
    }
    return true;
}

bool PremultipliedFormat(const std::string& format) {
    return format == "openexr";
}

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

std::vector<std::string> KnownColourSpaces() {
    return Config().getColorSpaceNames();
}

void ChooseColourConfiguration(const std::string& file, const std::string& origin) {
    g_chosenFile = file;
    g_chosenOrigin = origin;
    if (!SetEnvironment("OCIO", file.c_str()))
        throw std::runtime_error("cannot put the colour configuration " + file + " in OCIO");
}

std::string ChosenColourConfigurationOrigin() { return g_chosenOrigin; }

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

ColourInput ReadFrameColourWithLibrary(const std::string& path, const ColourRequest& request) {
    OpenedFile file = OpenParts(path);
    const ColourChannels pick = PickColourChannels(Channels(file), request.layer, path);
    const ImageSpec& layout = CheckedPart(path, file, pick.part);
    const int w = layout.width, h = layout.height;

    ColourInput in;
    in.channels = pick.description;
    const std::string working = ResolveColourSpace(request.workingSpace, "workingSpace");
    const std::string tagged = layout.get_string_attribute("oiio:ColorSpace");
    bool anyFloat = false, allBytes = true;
    for (int c : pick.index) {
        if (c < 0) continue;
        const TypeDesc t = layout.channelformat(c);
        anyFloat = anyFloat || IsFloat(t);
        allBytes = allBytes && t == TypeDesc::UINT8;
    }
    if (!request.colourSpace.empty()) {
        in.colourSpace = ResolveColourSpace(request.colourSpace, path + ": colorSpace");
    } else if (!tagged.empty()) {
        in.colourSpace = ResolveColourSpace(
            tagged, path + ": the file's colour space (\"colorSpace\" overrides it)");
    } else {
        in.colourSpace =
            ResolveColourSpace(anyFloat ? LinearSpace() : "sRGB", path + ": by its type");
    }
    // Whatever OpenImageIO does not call unassociated is premultiplied: the
    // EXR convention, and any file whose metadata says so.
    in.premultiplied =
        pick.index[3] >= 0 && layout.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    in.metadata = std::make_shared<ImageMetadata>(ImageMetadata{layout.extra_attribs});

    in.image.Resize(w, h);
    std::vector<uint8_t>* planes[4] = {&in.image.red, &in.image.green, &in.image.blue,
                                       &in.image.alpha};
    const std::size_t n = PixelCount(w, h);
    if (allBytes && in.colourSpace == working && !in.premultiplied) {
        // Bytes in the working space reach the module exactly as stored.
        for (int k = 0; k < 4; ++k) {
            if (pick.index[k] >= 0)
                ReadChannel(path, file, pick.part, pick.index[k], TypeDesc::UINT8,
                            planes[k]->data(), 1);
        }
        return in;
    }
    std::vector<float> rgba(n * 4, 1.0f);
    for (int k = 0; k < 4; ++k) {
        if (pick.index[k] >= 0)
            ReadChannel(path, file, pick.part, pick.index[k], TypeDesc::FLOAT, rgba.data() + k, 4);
    }
    auto values = std::make_shared<ColourValues>();
    if (!allBytes) values->stored = rgba;
    if (in.premultiplied) {
        Apply(path, rgba, w, h, [](ImageBuf& dst, const ImageBuf& src) {
            return OIIO::ImageBufAlgo::unpremult(dst, src);
        });
    }
    Convert(path, rgba, w, h, in.colourSpace, working, TypeDesc::UINT8);
    if (!allBytes) {
        values->working = rgba;
        in.values = std::move(values);
    }
    for (std::size_t i = 0; i < n; ++i) {
        for (int k = 0; k < 4; ++k)
            (*planes[k])[i] = FloatToByte(rgba[4 * i + static_cast<std::size_t>(k)]);
    }
    return in;
}

DepthImage ReadFrameDepthWithLibrary(const std::string& path, const std::string& channel) {
    OpenedFile file = OpenParts(path);
    const NamedChannel pick = PickDepthChannel(Channels(file), channel, path);
    const ImageSpec& layout = CheckedPart(path, file, pick.part);
    DepthImage depth;
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
        throw ImageError(path + ": cannot write \"." + Extension(path) +
                         "\" images: " + OIIO::geterror());
    }
    const std::string format = output->format_name();
    if (bits == 32 && format != "openexr" && format != "tiff") {
        throw ImageError(path + ": " + format +
                         " cannot store 32-bit float (outputBits 32 is for EXR and TIFF)");
    }
    if (bits == 16 &&
        (format == "jpeg" || format == "gif" || format == "bmp" || format == "targa")) {
        throw ImageError(path + ": " + format + " stores only 8 bits (outputBits)");
    }
}

void WriteFrameOutputWithLibrary(const std::string& path, const ColourImage& result,
                                 const ColourInput& source, const OutputRequest& request) {
    CheckOutputFormatWithLibrary(path, request.bits);
    std::unique_ptr<ImageOutput> output = ImageOutput::create(path);
    if (!output) throw ImageError(path + ": cannot write this format: " + OIIO::geterror());
    const std::string format = output->format_name();
    const bool alpha = output->supports("alpha");
    const bool premultiply = alpha && PremultipliedFormat(format);
    const TypeDesc type = OutputType(request.bits, format);
    const std::string working = ResolveColourSpace(request.workingSpace, "workingSpace");
    std::string space = working;
    if (!request.colourSpace.empty()) {
        space = ResolveColourSpace(request.colourSpace, "outputColorSpace");
    } else if (IsFloat(type) && !source.colourSpace.empty()) {
        space = source.colourSpace;
    }

    const int w = result.width, h = result.height;
    ImageSpec layout(w, h, alpha ? 4 : 3, type);
    if (alpha) {
        layout.alpha_channel = 3;
        if (!premultiply) layout.attribute("oiio:UnassociatedAlpha", 1);
    }
    if (source.metadata) {
        for (const OIIO::ParamValue& p : source.metadata->attributes) {
            if (CarriedOver(p.name().string()))
                layout.attribute(p.name().string(), p.type(), p.data());
        }
    }
    layout.attribute("oiio:ColorSpace", space);
    layout.attribute("Software", ProgramVersion());
    layout.attribute("lumafex:colorConfig", ColourConfigurationInUse());
    std::string lines;
    for (const std::string& line : request.settingsLines)
        lines += (lines.empty() ? "" : "\n") + line;
    layout.attribute("lumafex:settings", lines);
    layout.attribute("lumafex:input", source.channels + " (" + source.colourSpace +
                                          (source.premultiplied ? ", premultiplied" : "") + ")");

    const std::size_t n = PixelCount(w, h);
    std::vector<uint8_t> bytes;
    std::vector<float> rgba;
    const void* pixels = nullptr;
    TypeDesc given = TypeDesc::UINT8;
    if (type == TypeDesc::UINT8 && space == working && !premultiply) {
        // The module's bytes, stored as they are.
        bytes.resize(n * 4);
        for (std::size_t i = 0; i < n; ++i) {
            bytes[4 * i] = result.red[i];
            bytes[4 * i + 1] = result.green[i];
            bytes[4 * i + 2] = result.blue[i];
            bytes[4 * i + 3] = result.alpha[i];
        }
        pixels = bytes.data();
    } else {
        rgba.resize(n * 4);
        const std::vector<uint8_t>* planes[4] = {&result.red, &result.green, &result.blue,
                                                 &result.alpha};
        // A float or 16-bit output of a float or 16-bit input in the same
        // colour space and alpha convention keeps the input's values: a
        // pixel whose bytes the module gave back unchanged is stored as the
        // input stored it (above 1, below 0, emission under alpha 0), and a
        // changed one is the input's unclamped working-space value plus the
        // module's change to its bytes, converted back.
        const ColourValues* kept = source.values.get();
        const std::vector<uint8_t>* before[4] = {&source.image.red, &source.image.green,
                                                 &source.image.blue, &source.image.alpha};
        const bool keep = kept && type != TypeDesc::UINT8 && space == source.colourSpace &&
                          premultiply == source.premultiplied && source.image.width == w &&
                          source.image.height == h && kept->stored.size() == n * 4 &&
                          kept->working.size() == n * 4;
        std::vector<bool> changed;
        if (keep) changed.assign(n, false);
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t k = 0; k < 4; ++k) {
                const double byte = (*planes[k])[i];
                if (!keep) {
                    rgba[4 * i + k] = static_cast<float>(byte / 255.0);
                    continue;
                }
                const double was = (*before[k])[i];
                if (byte != was) changed[i] = true;
                rgba[4 * i + k] =
                    static_cast<float>(kept->working[4 * i + k] + (byte - was) / 255.0);
            }
        }
        Convert(path, rgba, w, h, working, space, type);
        if (premultiply) {
            Apply(path, rgba, w, h, [](ImageBuf& dst, const ImageBuf& src) {
                return OIIO::ImageBufAlgo::premult(dst, src);
            });
        }
        if (keep) {
            for (std::size_t i = 0; i < n; ++i) {
                if (changed[i]) continue;
                for (std::size_t k = 0; k < 4; ++k) rgba[4 * i + k] = kept->stored[4 * i + k];
            }
        }
        pixels = rgba.data();
        given = TypeDesc::FLOAT;
    }
    const OIIO::stride_t pixelStride = static_cast<OIIO::stride_t>(given.size()) * 4;

    // Encoded straight into the write's own temporary file beside the
    // target (created there new and exclusively, so no other file is ever
    // opened), then checked, flushed to the disk and renamed over the
    // target: a full disk, a file-size limit or any failure never leaves a
    // truncated output behind.
    WriteFileSafelyFrom(path, [&](intptr_t file) -> uint64_t {
        const int fd = static_cast<int>(file);
        if (format == "png" || format == "openexr") {
            // Through the descriptor itself, every write checked.
            DescriptorOutput sink(fd);
            // The writer goes before the proxy it writes to, whatever
            // happens: after a failure it still writes on closing.
            struct CloseFirst {
                std::unique_ptr<ImageOutput>& writer;
                ~CloseFirst() { writer.reset(); }
            } closeFirst{output};
            // Some encoders (PNG) do not check what their writes return:
            // a failed write fails the image whatever the encoder says.
            const bool encoded = output->set_ioproxy(&sink) && output->open(path, layout) &&
                                 output->write_image(given, pixels, pixelStride) && output->close();
            if (sink.Failure() != 0) {
                throw ImageError(path + ": cannot write: " + std::strerror(sink.Failure()) +
                                 " (nothing was changed)");
            }
            if (!encoded) {
                throw ImageError(path + ": cannot write image: " + output->geterror() +
                                 " (nothing was changed)");
            }
            return sink.End();
        }
        // OpenImageIO 2.4's TIFF writer loses tags, or its directory, when
        // it writes through a proxy, so the other writers open the file by
        // name: the descriptor's own name under /proc, which reaches this
        // very file whatever is done to its name in the folder meanwhile.
        const std::string name = "/proc/self/fd/" + std::to_string(fd);
        struct stat mine {}, named {};
        if (fstat(fd, &mine) != 0 || stat(name.c_str(), &named) != 0 ||
            mine.st_dev != named.st_dev || mine.st_ino != named.st_ino) {
            throw ImageError(path + ": cannot write " + format +
                             " images here: /proc/self/fd is not available (nothing was changed)");
        }
        if (!output->open(name, layout) || !output->write_image(given, pixels, pixelStride) ||
            !output->close()) {
            throw ImageError(path + ": cannot write image: " + output->geterror() +
                             " (nothing was changed)");
        }
        const off_t end = lseek(fd, 0, SEEK_END);
        if (end < 0) throw ImageError(path + ": cannot write image: " + std::strerror(errno));
        return static_cast<uint64_t>(end);
    });
}

}  // namespace lumafex::tool
