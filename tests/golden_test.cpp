// Frozen digests of whole frames rendered through the handler table: every
// filter family, every selection mode, each group of null channels and
// several noise frames. The reference tests compare each pass with a slow
// transliteration; these digests also catch a change made to a pass and its
// reference together. A digest changes only when output bytes change.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/module.h"
#include "host/servers.h"
#include "support/fake_host.h"
#include "support/line_store.h"
#include "support/sha256.h"

namespace lumafex {
namespace {

using testing::FakeHost;
using testing::FakeItem;

struct Null {
    const char* name;
    double x, y, z;
};

struct Scene {
    const char* name;
    std::vector<std::pair<const char*, int>> lines;  // stored lines to change
    std::vector<Null> nulls;
    int frames = 1;
    const char* digest;
    int32_t height = 40;
};

using testing::Lines;
using testing::ReadLine;
using testing::WriteLine;

// A frame 64 wide with smooth gradients, hard edges, a transparent
// background band, a shadow patch and a depth ramp (10 to 400 units at the
// usual height of 40).
void PaintFrame(FakeHost& host, int32_t height) {
    host.SetFrameSize(64, height);
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return static_cast<uint8_t>(state >> 24);
    };
    for (int32_t y = 0; y < host.height; ++y) {
        for (int32_t x = 0; x < host.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y * host.width + x);
            const bool edge = ((x / 8) + (y / 8)) % 2 == 0;
            host.red[i] = static_cast<uint8_t>(edge ? 4 * x : 255 - 3 * y);
            host.green[i] = static_cast<uint8_t>((x * y) % 256);
            host.blue[i] = x % 5 == 0 ? next() : static_cast<uint8_t>(128 + y);
            host.alpha[i] = y < 6 ? 0 : (x > 56 ? static_cast<uint8_t>(40 * (x - 56)) : 255);
            host.shadow[i] = (x > 20 && x < 40 && y > 20) ? static_cast<uint8_t>(160 + x) : 0;
            host.depth[i] = 10.0f + static_cast<float>(x) * 4.5f + static_cast<float>(y) * 2.5f;
        }
    }
}

// Renders the scene's frames and digests every output byte of every frame
// and the lines the module stores afterwards.
std::string Render(const Scene& scene) {
    FakeHost host;
    for (const Null& n : scene.nulls) host.items.push_back(FakeItem{0, n.name, {n.x, n.y, n.z}});
    Module& module = TheModule();
    module.random = RandomGenerator{};
    module.UseNulls = kUseNullsAtLoad;

    HandlerTable table{};
    EXPECT_EQ(HandlerActivate(1, host.Lookup(), &table, nullptr), host::kActivateOk);
    void* instance = table.create(nullptr);
    Lines stored;
    const SaveState save{0, &stored, WriteLine};
    table.save(instance, &save);
    for (const auto& [key, value] : scene.lines) {
        bool found = false;
        for (std::string& line : stored.lines) {
            if (line.rfind(std::string(key) + " ", 0) == 0) {
                line = std::string(key) + " " + std::to_string(value);
                found = true;
            }
        }
        EXPECT_TRUE(found) << key;
    }
    const LoadState load{0, &stored, ReadLine};
    table.load(instance, &load);

    testing::Sha256 digest;
    for (int f = 0; f < scene.frames; ++f) {
        PaintFrame(host, scene.height);
        const FrameAccess frame = host.Frame(f / 30.0);
        table.process(instance, &frame);
        for (const auto* plane : {&host.outRed, &host.outGreen, &host.outBlue, &host.outAlpha})
            digest.Add(plane->data(), plane->size());
    }
    Lines after;
    const SaveState saveAfter{0, &after, WriteLine};
    table.save(instance, &saveAfter);
    for (const std::string& line : after.lines) digest.Add(line.c_str(), line.size() + 1);
    table.destroy(instance);
    return digest.HexDigest();
}

const Scene kScenes[] = {
    {"defaults", {}, {}, 1,
     "743e81fca50c7d9c6493808bbf803ff90dd44bfb667f75789ee9b8352b6b8d05"},
    {"colour and tone",
     {{"RedPercent", 80}, {"GreenPercent", 120}, {"BluePercent", 95}, {"BrightPercent", 110},
      {"GammaPercent", 160}, {"ContrastPercent", 140}},
     {}, 1,
     "c57105663030d1fcf38f56eeac4c218cddbc5475313f3c0c7539380426ffe36a"},
    {"blur", {{"BlurFlag", 1}, {"BlurPercent", 300}}, {}, 1,
     "6172ebf2f427806e11e5d0f45b94984d043322fc1b8ba00a0d6491b027ffe716"},
    {"softer blur", {{"BlurFlag", 1}, {"SofterBlurFlag", 1}, {"BlurPercent", 250}}, {}, 1,
     "b1cbda11d12a8871445424e8c7f84cc23103a4c608041c36d0a49e4fa5639919"},
    {"depth of field",
     {{"DOFBlurFlag", 1}, {"DOFBlurPercent", 400}, {"DOFBlurFocalPoint", 120}}, {}, 1,
     "6141afd7ac4f20aa1b3ee162fd40cc538bc56a56f2a3281f6e92cc3339187c3a"},
    {"softer depth of field",
     {{"DOFBlurFlag", 1}, {"SofterBlurFlag", 1}, {"DOFBlurPercent", 300},
      {"DOFBlurFocalPoint", 200}},
     {}, 1,
     "c0ba3c0d1f04dd14c14455c2b18de7ec7d1665d81e5ffb07406205b73b426259"},
    {"softer extra with blur and depth of field",
     {{"BlurFlag", 1}, {"DOFBlurFlag", 1}, {"SofterBlurFlag", 2}, {"DOFBlurFocalPoint", 60}},
     {}, 1,
     "e9c3a33e4ec5b1c545869f1a18176bb960f71691883a482380b30c5da7341c7c"},
    {"enhance and antialias",
     {{"SharpenFlag", 1}, {"SharpenPercent", 150}, {"SmoothFlag", 1},
      {"AntialiasVariance", 150}, {"AntialiasPercent", 80}},
     {}, 1,
     "68e252a23b8130b2dbf2878898f257fff48d662d919a23631b106de0d5de4327"},
    {"noise over three frames", {{"NoiseFlag", 1}, {"NoisePercent", 150}}, {}, 3,
     "2dcc4b89a4ab6f0b92e3b2fa3303f7ae3ce0803246657184dca97faeabb32f22"},
    {"posterize, black and white, broadcast limit",
     {{"CartoonFlag", 1}, {"GreyFlag", 1}, {"NegativeFlag", 1}}, {}, 1,
     "766064fc1e29696157789a27bf82fc35495d94cce5d714378d1978c5e72c04a4"},
    {"negative and horizontal flip", {{"NegativeImageFlag", 1}, {"FlipFrameFlag", 1}}, {}, 1,
     "882be460ab5cedea88c81ad5677ad6f7b97bb34f9599a78f1a32a0e5eaabc605"},
    {"vertical flip and black keys",
     {{"FlipFrameFlag", 2}, {"KeyPrepFlag", 1}, {"BlackFlag", 1}, {"WhiteFlag", 1}}, {}, 1,
     "b2bbc140064916aebe5ac20a0f1aa6a2275ca88c16c66d9cdfb6249f94d74082"},
    {"white key prep and alpha filters",
     {{"KeyPrepFlag", 2}, {"ReverseAlphaFlag", 1}, {"RangeAlphaFlag", 1}}, {}, 1,
     "7a099ac16b27d154ecd45da3edc63cb84de803e6c1a88bfa0ed9c4e3319a6011"},
    {"objects only",
     {{"FilterInclude", 0}, {"BlurFlag", 1}, {"NegativeImageFlag", 1}}, {}, 1,
     "5d08e31f272c0710476c65fb1bba425a4e6020bd4284f483053382e1314f6d2c"},
    {"background only",
     {{"FilterInclude", 1}, {"SharpenFlag", 1}, {"GammaPercent", 50}}, {}, 1,
     "e692d9554605547a34846544565ba5915630e474790479176eac68acd1046743"},
    {"shadows only",
     {{"FilterInclude", 2}, {"DOFBlurFlag", 1}, {"ContrastPercent", 200}}, {}, 1,
     "015ddbecb75b7a9469d640004758c6d30e85c3cfb8b160cc2599f36da1b99cc1"},
    {"colour range",
     {{"FilterInclude", 4}, {"r1", 0}, {"g1", 0}, {"b1", 100}, {"r2", 200}, {"g2", 200},
      {"b2", 255}, {"SofterBlurFlag", 1}, {"BlurFlag", 1}, {"GreyFlag", 1}},
     {}, 1,
     "8a5ddb6edf8b9e742eaa4d5cba03d87d6c0d47981f1be7fb9d704184ad2452a9"},
    {"colour nulls",
     {},
     {{"3Red%", 0, 0, 70}, {"3Green%", 0, 0, 130}, {"3Blue%", 0, 0, 90}, {"3Bright%", 0, 0, 120},
      {"3Gamma%", 0, 0, 140}, {"3Contrast%", 0, 0, 60}, {"3ColorMode", 0, 0, 0.5}},
     1,
     "eedf9219f3ddb45379524cf67c9450bc64f7a6d843ce40118cb7ca45c6dd3467"},
    {"blur and focus nulls",
     {{"DOFBlurFlag", 1}},
     {{"3Blur%", 0, 0, 200}, {"3Softer", 0, 0, 1}, {"3DOFBlur%", 0, 0, 250},
      {"3MaxDOFBlur%", 0, 0, 300}, {"3FocalPoint", 0, 0, 150}, {"3FocalRange", 0, 0, 40},
      {"3DOFSeperator", 0, 0, 5}},
     1,
     "fcc1c9434828b4473742d49b611527d80018aaf90f74a87ca37109ed35199b3e"},
    {"enhance, antialias and noise nulls",
     {},
     {{"3Enhance%", 0, 0, 120}, {"3AntialiasPasses", 0, 0, 2}, {"3Antialias%", 0, 0, 90},
      {"3AntialiasT", 0, 0, 80}, {"3Noise%", 0, 0, 60}, {"3ChromaNoise", 0, 0, 1},
      {"3NoiseRed%", 0, 0, 150}, {"3NoiseGreen%", 0, 0, 50}, {"3NoiseBlue%", 0, 0, 100}},
     2,
     "c06e18efc63e307ae8e108318d397f8555e96f30678389a1c39993d25f90c0d1"},
    {"switch and range nulls",
     {{"DOFBlurFlag", 1}},
     {{"3Posterize%", 0, 0, 40}, {"3NTSCLimit", 0, 0, 1}, {"3BlackandWhite", 0, 0, 0},
      {"3Negative", 0, 0, 1}, {"3FlipFrame", 0, 0, 2}, {"3FiltersShouldAffect", 0, 0, 4.5},
      {"3LowRed", 0, 0, 10}, {"3LowGreen", 0, 0, 20}, {"3LowBlue", 0, 0, 30},
      {"3HighRed", 0, 0, 220}, {"3HighGreen", 0, 0, 230}, {"3HighBlue", 0, 0, 240}},
     1,
     "f7285a68e9046446ef0fd6e2f73b48206457625bd0a00c066069295332366629"},
};

// Scenes of the list above again on a frame 600 rows tall, which every pass
// splits into several strips of rows: the rows each strip reads around it,
// and the seams between strips, are digested too.
const std::pair<const char*, const char*> kTallScenes[] = {
    {"blur", "bb60c2e95625ab29224ecc4f8b7052533dec4df8fdd5350ff511d026c6b86f56"},
    {"softer blur", "e7fe0de8ddbd724175122a52b4fb05a41254092b3e8b100bdf38a36c1b60e0a1"},
    {"depth of field", "d731ac8452445bf9302140e04da5c00d9f39d283b3c34d83c3f8b113198ef388"},
    {"softer depth of field", "da045358918c3c3da1c0148783efcbdfca8a83b9ed034d0085cc6b850b2726c9"},
    {"softer extra with blur and depth of field",
     "548c42a16c972350a3c788200ba88c85ece52729f7e1e842ac273a7aaad8a8fa"},
    {"enhance and antialias", "e75757d5b996d0ab0bab4fdf1b57d023793e12738ab4412a569d139f2c543e91"},
    {"colour range", "3a284aef158f98f251a62193e6ed72f82d590f15410a8d2bc7788e16d5ad7e4e"},
    {"blur and focus nulls", "a9dec4525cd52f1faf18d62b029fe3ef5f664e7401aa36c6c1c77c02b748f8da"},
};

TEST(Golden, RenderedScenesKeepTheirDigests) {
    for (const Scene& scene : kScenes) {
        const std::string actual = Render(scene);
        EXPECT_EQ(actual, scene.digest) << scene.name;
    }
}

TEST(Golden, ScenesOverSeveralStripsKeepTheirDigests) {
    for (const auto& [name, digest] : kTallScenes) {
        const Scene* found = nullptr;
        for (const Scene& scene : kScenes) {
            if (std::string(scene.name) == name) found = &scene;
        }
        ASSERT_NE(found, nullptr) << name;
        Scene tall = *found;
        tall.height = 600;
        EXPECT_EQ(Render(tall), digest) << name;
    }
}

}  // namespace
}  // namespace lumafex
