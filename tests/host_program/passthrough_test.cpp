// A float render through the host program comes back with everything the
// filters did not touch: every part, channel name and type, window, tile
// size, line order, compression and attribute of the input, and every
// channel but the filtered colour bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support.h"

#if defined(LUMAFEX_TEST_WITH_OIIO)
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>
#endif

namespace lumafex::tool {
namespace {

#if defined(LUMAFEX_TEST_WITH_OIIO)

using OIIO::ImageSpec;
using OIIO::TypeDesc;
using testing::RunProgram;
using testing::TempDir;
using testing::WriteText;

struct StoredPart {
    ImageSpec layout;
    std::vector<unsigned char> pixels;  // every channel in its own type
};

std::vector<StoredPart> ReadStored(const std::string& path) {
    auto in = OIIO::ImageInput::open(path);
    EXPECT_TRUE(in) << path << ": " << OIIO::geterror();
    std::vector<StoredPart> parts;
    if (!in) return parts;
    ImageSpec layout;
    for (int s = 0; in->seek_subimage(s, 0, layout); ++s) {
        StoredPart p{layout, std::vector<unsigned char>(layout.image_bytes(true))};
        EXPECT_TRUE(in->read_image(s, 0, 0, layout.nchannels, TypeDesc::UNKNOWN, p.pixels.data()));
        parts.push_back(std::move(p));
    }
    return parts;
}

// One channel's stored bytes, pixel after pixel.
std::vector<unsigned char> ChannelBytes(const StoredPart& p, int c) {
    std::size_t offset = 0;
    for (int k = 0; k < c; ++k) offset += p.layout.channelformat(k).size();
    const std::size_t size = p.layout.channelformat(c).size(), pixel = p.layout.pixel_bytes(true);
    std::vector<unsigned char> bytes;
    for (std::size_t i = offset; i < p.pixels.size(); i += pixel)
        bytes.insert(bytes.end(), p.pixels.begin() + static_cast<std::ptrdiff_t>(i),
                     p.pixels.begin() + static_cast<std::ptrdiff_t>(i + size));
    return bytes;
}

// A channel's value at a pixel: colour with headroom, negatives and
// emission under alpha 0 (premultiplied), depth, an AOV and object IDs.
float Value(const std::string& name, int x, int y) {
    const int i = x * 7 + y * 13;
    const char last = name.back();
    if (name.find("Depth") != std::string::npos || name == "Z") return 5.0f + static_cast<float>(x + 2 * y);
    if (name == "id") return static_cast<float>(100000 + i);
    if (name.find("DiffCol") != std::string::npos || name.find("N.") == 0) return static_cast<float>(i % 11) / 11.0f;
    const float alpha = (x + y) % 5 == 0 ? 0.0f : static_cast<float>((x + y) % 5) / 4.0f;
    if (last == 'A') return alpha;
    const float c = last == 'R' ? 0.05f + 0.37f * static_cast<float>(i % 9) : last == 'G' ? -0.01f * static_cast<float>(i % 3) : 0.3f;
    return alpha == 0.0f ? c * 0.5f : c * alpha;  // alpha 0: emission
}

struct PartLayout {
    std::string name;
    std::vector<std::pair<std::string, TypeDesc>> channels;
};

struct Layout {
    std::string name;
    std::vector<PartLayout> parts;
    std::set<std::string> colour;  // the channels the module filters
    std::string compression = "zip";
    int x = 0, y = 0, width = 32, height = 16;  // the data window
    int tile = 0;                               // tile size, 0 for scanlines
    std::string lineOrder = "";                 // "": the default
    bool lossy = false;                         // re-encoding changes the colour
};

// Names the case in the test's messages.
[[maybe_unused]] void PrintTo(const Layout& l, std::ostream* out) { *out << l.name; }

const PartLayout kRgbaz{"", {{"R", TypeDesc::HALF}, {"G", TypeDesc::HALF}, {"B", TypeDesc::HALF},
                             {"A", TypeDesc::HALF}, {"Z", TypeDesc::FLOAT}}};
const std::set<std::string> kRgba{"R", "G", "B", "A"};

std::vector<Layout> Layouts() {
    return {
        {"Multilayer",
         {{"",
           {{"ViewLayer.Combined.R", TypeDesc::HALF}, {"ViewLayer.Combined.G", TypeDesc::HALF},
            {"ViewLayer.Combined.B", TypeDesc::HALF}, {"ViewLayer.Combined.A", TypeDesc::HALF},
            {"ViewLayer.Depth.Z", TypeDesc::FLOAT}, {"ViewLayer.DiffCol.R", TypeDesc::HALF},
            {"ViewLayer.DiffCol.G", TypeDesc::HALF}, {"ViewLayer.DiffCol.B", TypeDesc::HALF}}}},
         {"ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B", "ViewLayer.Combined.A"},
         "zip", 0, 0, 32, 16, 0, "", false},
        {"Flat", {kRgbaz}, kRgba, "zips", 0, 0, 32, 16, 0, "", false},
        {"MultiPart",
         {{"rgba", {{"R", TypeDesc::HALF}, {"G", TypeDesc::HALF}, {"B", TypeDesc::HALF}, {"A", TypeDesc::HALF}}},
          {"depth", {{"Z", TypeDesc::FLOAT}}},
          {"ids", {{"id", TypeDesc::UINT32}}},
          {"aov", {{"N.X", TypeDesc::HALF}, {"N.Y", TypeDesc::HALF}, {"N.Z", TypeDesc::HALF}}}},
         kRgba, "zip", 0, 0, 32, 16, 0, "", false},
        {"TiledPiz", {kRgbaz}, kRgba, "piz", 0, 0, 32, 16, 16, "", false},
        {"DecreasingY", {kRgbaz}, kRgba, "rle", 0, 0, 32, 16, 0, "decreasingY", false},
        {"Dwaa", {kRgbaz}, kRgba, "dwaa", 0, 0, 32, 16, 0, "", true},
        {"Overscan", {kRgbaz}, kRgba, "zip", -8, -2, 48, 20, 0, "", false},
        {"Crop", {kRgbaz}, kRgba, "zip", 8, 4, 16, 8, 0, "", false},
    };
}

void WriteLayout(const std::string& path, const Layout& l) {
    std::vector<ImageSpec> layouts;
    std::vector<std::vector<float>> values;
    for (const PartLayout& p : l.parts) {
        ImageSpec s(l.width, l.height, static_cast<int>(p.channels.size()), TypeDesc::FLOAT);
        s.x = l.x, s.y = l.y;
        s.full_x = 0, s.full_y = 0, s.full_width = 32, s.full_height = 16;
        s.channelnames.clear();
        for (const auto& [name, type] : p.channels) {
            s.channelnames.push_back(name);
            s.channelformats.push_back(type);
        }
        s.alpha_channel = -1;
        if (!p.name.empty()) s.attribute("oiio:subimagename", p.name);
        s.attribute("compression", l.compression);
        s.attribute("renderer:camera", "shot-12");
        if (l.tile) s.tile_width = s.tile_height = l.tile;
        if (!l.lineOrder.empty()) s.attribute("openexr:lineOrder", l.lineOrder);
        std::vector<float> v;
        for (int y = l.y; y < l.y + l.height; ++y)
            for (int x = l.x; x < l.x + l.width; ++x)
                for (const auto& c : p.channels) v.push_back(Value(c.first, x, y));
        layouts.push_back(s);
        values.push_back(std::move(v));
    }
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out);
    ASSERT_TRUE(layouts.size() == 1 ? out->open(path, layouts[0])
                                    : out->open(path, static_cast<int>(layouts.size()), layouts.data()))
        << out->geterror();
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        if (i > 0) {
            ASSERT_TRUE(out->open(path, layouts[i], OIIO::ImageOutput::AppendSubimage));
        }
        ASSERT_TRUE(out->write_image(TypeDesc::FLOAT, values[i].data())) << out->geterror();
    }
    ASSERT_TRUE(out->close());
}

// Renders dir/in.exr (colour and depth) to dir/output with the filters given.
std::vector<StoredPart> RenderIn(const TempDir& dir, const std::string& filters, const std::string& output,
                                 const std::string& options = "") {
    WriteText(dir / "scene.json", R"({"filters": {)" + filters + R"(}, "frames": [{"frame": 1,
        "color": "in.exr", "depth": "in.exr", "output": ")" + output + R"("}]})");
    std::string out;
    EXPECT_EQ(RunProgram("-q render " + options + dir / "scene.json", &out), 0) << out;
    return ReadStored(dir / output);
}

// Everything but the colour's values: parts, names, types, windows, tiles,
// line order, compression and attributes, and the provenance recorded.
void ExpectSameLayout(const StoredPart& in, const StoredPart& out, const std::string& compression) {
    const ImageSpec &a = in.layout, &b = out.layout;
    EXPECT_EQ(b.channelnames, a.channelnames);
    for (int c = 0; c < a.nchannels; ++c) EXPECT_EQ(b.channelformat(c), a.channelformat(c)) << c;
    EXPECT_EQ(std::vector<int>({b.x, b.y, b.width, b.height, b.full_x, b.full_y, b.full_width, b.full_height}),
              std::vector<int>({a.x, a.y, a.width, a.height, a.full_x, a.full_y, a.full_width, a.full_height}));
    EXPECT_EQ(std::make_pair(b.tile_width, b.tile_height), std::make_pair(a.tile_width, a.tile_height));
    EXPECT_EQ(b.get_string_attribute("compression"), compression);
    for (const char* key : {"openexr:lineOrder", "oiio:subimagename", "renderer:camera"})
        EXPECT_EQ(b.get_string_attribute(key), a.get_string_attribute(key)) << key;
    EXPECT_NE(b.get_string_attribute("lumafex:settings"), "");
}

// dir/in.exr through the program: with every filter off the same file
// again; with depth of field and a red gain, only the colour differs.
void ExpectPassThrough(const TempDir& dir, const std::set<std::string>& colour, bool lossy) {
    const std::vector<StoredPart> in = ReadStored(dir / "in.exr");
    // Every filter off: the output is the input, in every part and channel
    // (a lossy compression loses again on the colour unless --compression
    // names a lossless one).
    for (const std::string& compression : {std::string(), std::string("zip")}) {
        if (!compression.empty() && !lossy) continue;
        const std::vector<StoredPart> same =
            RenderIn(dir, "", "same.exr", compression.empty() ? "" : "--compression " + compression + " ");
        ASSERT_EQ(same.size(), in.size());
        const bool exact = !lossy || !compression.empty();
        for (std::size_t s = 0; s < in.size(); ++s) {
            ExpectSameLayout(in[s], same[s],
                             compression.empty() ? in[s].layout.get_string_attribute("compression").str()
                                                 : compression);
            for (int c = 0; c < in[s].layout.nchannels; ++c) {
                const std::string& name = in[s].layout.channelnames[static_cast<std::size_t>(c)];
                if (exact || !colour.count(name) || name.back() == 'A') {
                    EXPECT_EQ(ChannelBytes(same[s], c), ChannelBytes(in[s], c)) << name;
                }
            }
        }
    }
    // Depth of field and a red gain: only the colour changes.
    const std::vector<StoredPart> dof =
        RenderIn(dir, R"("DOFBlurFlag": 1, "DOFBlurPercent": 40, "DOFBlurFocalPoint": 30, "RedPercent": 150)",
               "dof.exr");
    ASSERT_EQ(dof.size(), in.size());
    bool colourChanged = false;
    for (std::size_t s = 0; s < in.size(); ++s) {
        ExpectSameLayout(in[s], dof[s], in[s].layout.get_string_attribute("compression").str());
        for (int c = 0; c < in[s].layout.nchannels; ++c) {
            const std::string& name = in[s].layout.channelnames[static_cast<std::size_t>(c)];
            if (colour.count(name))
                colourChanged = colourChanged || ChannelBytes(dof[s], c) != ChannelBytes(in[s], c);
            else
                EXPECT_EQ(ChannelBytes(dof[s], c), ChannelBytes(in[s], c)) << name;
        }
    }
    EXPECT_TRUE(colourChanged);
}

class PassThrough : public ::testing::TestWithParam<Layout> {
protected:
    TempDir dir;
};

TEST_P(PassThrough, EveryChannelButTheFilteredColourComesBackBitForBit) {
    WriteLayout(dir / "in.exr", GetParam());
    ExpectPassThrough(dir, GetParam().colour, GetParam().lossy);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PassThrough, ::testing::ValuesIn(Layouts()),
                         [](const auto& layout) { return layout.param.name; });

// A frame as Blender renders it: Cycles on the CPU, a few samples, no
// denoising, transparent film, a multilayer half EXR with the Z and DiffCol
// passes.
TEST(BlenderFrames, ComeBackWithEveryPassAndOnlyTheColourFiltered) {
    if (std::system("command -v blender >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "blender is not installed (scripts/install-deps.sh installs it); a real render is not tried";
    TempDir dir;
    WriteText(dir / "scene.py", R"(import bpy, sys
s = bpy.context.scene
s.render.engine = 'CYCLES'
s.cycles.device = 'CPU'
s.cycles.samples = 4
s.cycles.use_denoising = False
s.render.resolution_x, s.render.resolution_y, s.render.resolution_percentage = 64, 32, 100
s.render.film_transparent = True
s.view_layers[0].use_pass_z = True
s.view_layers[0].use_pass_diffuse_color = True
f = s.render.image_settings
f.file_format, f.color_depth, f.exr_codec = 'OPEN_EXR_MULTILAYER', '16', 'ZIP'
bpy.data.objects['Light'].data.energy = 5000  # highlights above 1
s.render.filepath = sys.argv[sys.argv.index('--') + 1]
bpy.ops.render.render(write_still=True)
)");
    const std::string command = "blender -b --factory-startup --python '" + dir / "scene.py" + "' -- '" +
                                dir / "in.exr" + "' >'" + dir / "blender.log" + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<StoredPart> in = ReadStored(dir / "in.exr");
    ASSERT_EQ(in.size(), 1u);
    for (const char* pass : {"ViewLayer.Depth.Z", "ViewLayer.DiffCol.R"}) {
        EXPECT_NE(std::find(in[0].layout.channelnames.begin(), in[0].layout.channelnames.end(), pass),
                  in[0].layout.channelnames.end())
            << pass;
    }
    ExpectPassThrough(dir,
                      {"ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B",
                       "ViewLayer.Combined.A"},
                      false);
}

// Outputs that cannot hold what the input has beside its colour say what
// they leave out; DPX records its transfer characteristic; 16-bit outputs
// of float inputs hold 16-bit values, not bytes in 16-bit words.
TEST(PassThroughFormats, NameWhatTheyCannotHoldAndKeepTheirPrecision) {
    TempDir dir;
    const std::vector<Layout> layouts = Layouts();
    WriteLayout(dir / "in.exr", layouts[0]);
    WriteLayout(dir / "overscan.exr", layouts[6]);
    WriteText(dir / "scene.json", R"({"outputBits": 16, "frames": [
        {"frame": 1, "color": "in.exr", "output": "a.tif"},
        {"frame": 2, "color": "in.exr", "output": "b.tif"},
        {"frame": 3, "color": "overscan.exr", "output": "c.png"}]})");
    std::string out;
    ASSERT_EQ(RunProgram("render " + dir / "scene.json", &out), 0) << out;
    // Once a run for each kind of loss.
    // Frames 1 and 2 may be written at once: either names the loss, once.
    const std::string lost = ".tif: tiff holds only the colour, so the output leaves out what the input";
    const std::size_t first = out.find(lost);
    EXPECT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find(lost, first + 1), std::string::npos) << out;
    EXPECT_NE(out.find("ViewLayer.Depth.Z, ViewLayer.DiffCol.R"), std::string::npos) << out;
    EXPECT_NE(out.find("the data window 48x20 at -8,-2 in the display window 32x16 at 0,0"), std::string::npos)
        << out;

    OIIO::ImageBuf tif(dir / "a.tif");
    ASSERT_TRUE(tif.read(0, 0, true, TypeDesc::UINT16)) << tif.geterror();
    std::vector<uint16_t> values(static_cast<std::size_t>(tif.nativespec().image_pixels()) * 4);
    ASSERT_TRUE(tif.get_pixels(OIIO::ROI::All(), TypeDesc::UINT16, values.data()));
    std::size_t fine = 0;  // values no byte gives
    for (const uint16_t v : values) fine += v % 257 != 0 ? 1 : 0;
    EXPECT_GT(fine, values.size() / 4);

    for (const auto& [space, transfer] : std::vector<std::pair<std::string, std::string>>{
             {"linear", "Linear"}, {"Rec709", "ITU-R 709-4"}, {"sRGB", "User defined"}}) {
        const std::string name = "d-" + space + ".dpx";  // a new name: image buffers cache by name
        WriteText(dir / "dpx.json", R"({"outputColorSpace": ")" + space +
                                        R"(", "frames": [{"frame": 1, "color": "in.exr", "output": ")" + name +
                                        R"("}]})");
        ASSERT_EQ(RunProgram("-q render " + dir / "dpx.json", &out), 0) << out;
        OIIO::ImageBuf dpx(dir / name);
        ASSERT_TRUE(dpx.init_spec(dir / name, 0, 0)) << dpx.geterror();
        EXPECT_EQ(dpx.nativespec().get_string_attribute("dpx:Transfer"), transfer) << space;
    }
}

// A black stand-in for a missing frame is black in a float output too,
// not the values of the frame it was made from.
TEST(PassThroughFormats, ABlackStandInKeepsNoValuesOfItsNeighbour) {
    TempDir dir;
    OIIO::ImageBuf bright(ImageSpec(16, 8, 4, TypeDesc::HALF));
    const float colour[4] = {2.5f, 0.5f, 0.25f, 1.0f};
    OIIO::ImageBufAlgo::fill(bright, colour);
    ASSERT_TRUE(bright.write(dir / "c.0001.exr"));
    WriteText(dir / "s.json", R"({"frames": {"first": 1, "last": 2, "color": "c.####.exr",
                                             "output": "o.####.exr"}})");
    std::string out;
    EXPECT_EQ(RunProgram("-q render " + dir / "s.json --missing-frames black", &out), 4) << out;
    OIIO::ImageBuf black(dir / "o.0002.exr");
    const auto stats = OIIO::ImageBufAlgo::computePixelStats(black);
    for (const float v : stats.max) EXPECT_EQ(v, 0.0f) << out;
}

// Bright colour under a sliver of alpha (8 under 0.0001: 80000 once
// unassociated, more than a half holds) comes back as stored where the
// filters leave it, and only the pixels they change are converted back.
TEST(PassThroughFormats, KeepBrightColourUnderFaintAlphaWhereNoFilterChangedIt) {
    TempDir dir;
    ImageSpec layout(16, 8, 5, TypeDesc::HALF);
    layout.channelnames = {"R", "G", "B", "A", "Z"};
    layout.alpha_channel = 3;
    layout.z_channel = 4;
    OIIO::ImageBuf faint(layout);
    const float colour[5] = {8.0f, 0.5f, 0.25f, 0.0001f, 10.0f};
    OIIO::ImageBufAlgo::fill(faint, colour);
    const float opaque[5] = {0.5f, 0.25f, 0.125f, 1.0f, 10.0f};
    OIIO::ImageBufAlgo::fill(faint, opaque, OIIO::ROI(0, 8, 0, 8));
    ASSERT_TRUE(faint.write(dir / "in.exr"));
    const std::vector<StoredPart> in = ReadStored(dir / "in.exr");
    ASSERT_EQ(in.size(), 1u);
    const std::vector<StoredPart> same = RenderIn(dir, "", "same.exr");
    ASSERT_EQ(same.size(), 1u);
    EXPECT_EQ(same[0].pixels, in[0].pixels);
    // A red gain changes the opaque half only; the faint half is kept.
    const std::vector<StoredPart> red = RenderIn(dir, R"("RedPercent": 150)", "red.exr");
    ASSERT_EQ(red.size(), 1u);
    const std::size_t pixel = in[0].layout.pixel_bytes(true);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) {
            const auto at = static_cast<std::ptrdiff_t>(
                (static_cast<std::size_t>(y) * 16 + static_cast<std::size_t>(x)) * pixel);
            const bool kept = std::equal(in[0].pixels.begin() + at,
                                         in[0].pixels.begin() + at + static_cast<std::ptrdiff_t>(pixel),
                                         red[0].pixels.begin() + at);
            EXPECT_EQ(kept, x >= 8) << x << "," << y;
        }
    }
}

#endif

}  // namespace
}  // namespace lumafex::tool
