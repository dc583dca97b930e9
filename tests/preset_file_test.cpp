#include "ui/preset_file.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_host.h"
#include "support/memory_surface.h"
#include "ui/dialog_controller.h"

namespace lumafex {
namespace {

using namespace ui;
using testing::MemorySurface;
namespace fs = std::filesystem;

using Bytes = std::array<uint8_t, kPresetSize>;

constexpr ControlId kFilterRadios[] = {kObjectsOnlyRadio, kBackgroundOnlyRadio,
                                       kShadowsOnlyRadio, kFullFrameRadio, kColourRangeRadio};

TEST(PresetCodec, TextSlotsKeepFourCharactersAndAZero) {
    Bytes bytes;
    bytes.fill(0xEE);
    PutPresetText(bytes, 10, "12345");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[10]), 5), std::string("1234\0", 5));
    PutPresetText(bytes, 20, "7");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[20]), 5),
              std::string("7\0\0\0\0", 5));
    EXPECT_EQ(bytes[9], 0xEE);
    EXPECT_EQ(bytes[15], 0xEE);

    char text[kPresetTextSize];
    GetPresetText(bytes, 10, text);
    EXPECT_STREQ(text, "1234");
    // A slot without a zero reads as its first 4 characters.
    std::memcpy(&bytes[30], "98765", 5);
    GetPresetText(bytes, 30, text);
    EXPECT_STREQ(text, "9876");
    // Whatever follows the zero is ignored.
    std::memcpy(&bytes[40], "5\0xyz", 5);
    GetPresetText(bytes, 40, text);
    EXPECT_STREQ(text, "5");
}

TEST(PresetCodec, NumbersAndSwitches) {
    Bytes bytes{};
    PutPresetInt(bytes, 80, 0x01020304);
    EXPECT_EQ(bytes[80], 0x04);
    EXPECT_EQ(bytes[83], 0x01);
    EXPECT_EQ(GetPresetInt(bytes, 80), 0x01020304);
    PutPresetInt(bytes, 84, -2);
    EXPECT_EQ(bytes[84], 0xFE);
    EXPECT_EQ(bytes[87], 0xFF);
    EXPECT_EQ(GetPresetInt(bytes, 84), -2);

    char text[kPresetTextSize];
    for (const auto& [value, shown] : {std::pair{255, "255"}, {-12, "-12"}, {9999, "9999"},
                                       {12345, "9999"}, {-5000, "-999"}}) {
        PutPresetNumber(bytes, 152, value);
        GetPresetText(bytes, 152, text);
        EXPECT_STREQ(text, shown) << value;
    }
}

TEST(PresetCodec, SlotsCoverTheImageWithoutOverlap) {
    std::array<int, kPresetSize> owners{};
    auto claim = [&](std::size_t offset, std::size_t size) {
        for (std::size_t i = offset; i < offset + size; ++i) ++owners.at(i);
    };
    for (const auto& slot : kPresetTextSlots) claim(slot.offset, kPresetTextSize);
    for (const auto& slot : kPresetColourSlots) claim(slot.offset, kPresetTextSize);
    for (const auto& slot : kPresetSwitchSlots) claim(slot.offset, 4);
    for (std::size_t offset : {kPresetFilterIncludeOffset, kPresetFlipOffset, kPresetKeyPrepOffset})
        claim(offset, 4);
    for (std::size_t i = 0; i < kPresetSize; ++i) {
        const bool unused = (i >= 60 && i < 65) || (i >= 132 && i < 136) || i >= 182;
        EXPECT_EQ(owners[i], unused ? 0 : 1) << "byte " << i;
    }
}

// The names of the files in a folder, sorted.
std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

#if !defined(_WIN32)
// While it lives, this process cannot make a file longer than bytes: writes
// beyond that fail as on a full disk (and raise no signal).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};
#endif

class Preset : public ::testing::Test {
protected:
    void SetUp() override {
        ResetToDefaults(settings);
        dir = fs::path(::testing::TempDir()) /
              ("lumafex-preset-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    void Start() {
        DialogModel model{};
        model.settings = &settings;
        model.UseNulls = &useNulls;
        model.CustomColours = &colours;
        if (failAllocation) model.allocate = [](std::size_t) { return platform::MemoryBlock(); };
        controller.emplace(surface, model);
        controller->Start();
    }
    void Save(const fs::path& path) {
        surface.fileAnswers.push_back(path.string());
        EXPECT_EQ(controller->Command(kMenuSaveAs), CommandResult::Handled);
    }
    void Load(const fs::path& path) {
        surface.fileAnswers.push_back(path.string());
        EXPECT_EQ(controller->Command(kMenuOpen), CommandResult::Handled);
    }
    Bytes ReadBytes(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> data{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(data.size(), kPresetSize);
        Bytes bytes{};
        std::memcpy(bytes.data(), data.data(), std::min(data.size(), kPresetSize));
        return bytes;
    }
    void WriteBytes(const fs::path& path, const uint8_t* data, std::size_t size) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    // Every control's state, to compare dialogs.
    struct Snapshot {
        std::map<ControlId, std::string> text;
        std::map<ControlId, int> check;
        std::map<ControlId, bool> radio;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot Controls() const { return {surface.text, surface.check, surface.radio}; }

    fs::path dir;
    FilterSettings settings{};
    int32_t useNulls = 0;
    CustomColourTable colours{};
    MemorySurface surface;
    std::optional<DialogController> controller;
    bool failAllocation = false;
};

bool SameRecord(const FilterSettings& a, const FilterSettings& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A record with every switch on, flip vertical, key prep white and the
// softer blur in its third state.
void EverythingOn(FilterSettings& s) {
    for (int32_t FilterSettings::*flag :
         {&FilterSettings::SharpenFlag, &FilterSettings::SmoothFlag, &FilterSettings::BlurFlag,
          &FilterSettings::DOFBlurFlag, &FilterSettings::BlackFlag, &FilterSettings::WhiteFlag,
          &FilterSettings::GreyFlag, &FilterSettings::NoiseFlag, &FilterSettings::NegativeFlag,
          &FilterSettings::NegativeImageFlag, &FilterSettings::CartoonFlag,
          &FilterSettings::ReverseAlphaFlag, &FilterSettings::RangeAlphaFlag}) {
        s.*flag = 1;
    }
    s.SofterBlurFlag = 2;
    s.FlipFrameFlag = 2;
    s.KeyPrepFlag = 2;
    s.FilterInclude = 1;
    s.Passes = 3;
    s.RedPercent = 12;
    s.GreenPercent = 34;
    s.BluePercent = 56;
    s.BrightPercent = 78;
    s.GammaPercent = 90;
    s.ContrastPercent = 110;
    s.NoisePercent = 120;
    s.SharpenPercent = 130;
    s.AntialiasVariance = 140;
    s.AntialiasPercent = 150;
    s.PosterizePercent = 160;
    s.BlurPercent = 170;
    s.DOFBlurPercent = 180;
    s.DOFBlurFocalPoint = -190;
}

TEST_F(Preset, SaveWritesTheImageByteForByte) {
    EverythingOn(settings);
    settings.r1 = 1;
    settings.g1 = 22;
    settings.b1 = 192;
    Start();
    surface.text[kRedPercentEdit] = "12345";
    const fs::path path = dir / "all.lmx";
    Save(path);
    EXPECT_EQ(surface.fileRequests, std::vector<FileChooserKind>{FileChooserKind::Save});
    EXPECT_TRUE(surface.messages.empty());
    const Bytes bytes = ReadBytes(path);

    auto text = [&](std::size_t offset) {
        return std::string(reinterpret_cast<const char*>(&bytes[offset]), 5);
    };
    EXPECT_EQ(text(0), std::string("3\0\0\0\0", 5));
    EXPECT_EQ(text(5), std::string("78\0\0\0", 5));
    EXPECT_EQ(text(10), std::string("1234\0", 5));  // five digits saved as four
    EXPECT_EQ(text(55), std::string("160\0\0", 5));
    EXPECT_EQ(text(75), std::string("-190\0", 5));
    EXPECT_EQ(text(152), std::string("1\0\0\0\0", 5));
    EXPECT_EQ(text(157), std::string("22\0\0\0", 5));
    EXPECT_EQ(text(177), std::string("255\0\0", 5));
    EXPECT_EQ(GetPresetInt(bytes, 80), 1);
    EXPECT_EQ(GetPresetInt(bytes, 96), 2);  // the softer third state
    EXPECT_EQ(GetPresetInt(bytes, 104), 2);
    EXPECT_EQ(GetPresetInt(bytes, 108), 2);
    for (const auto& slot : kPresetSwitchSlots) {
        if (slot.check != kSofterCheck) {
            EXPECT_EQ(GetPresetInt(bytes, slot.offset), 1) << slot.offset;
        }
    }
    for (std::size_t i : {60u, 64u, 132u, 135u, 182u, 183u}) EXPECT_EQ(bytes[i], 0) << i;
    // Nothing is left beside the preset.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(Preset, SaveThenLoadRestoresEveryControl) {
    EverythingOn(settings);
    Start();
    const Snapshot saved = Controls();
    const fs::path path = dir / "all.lmx";
    Save(path);

    // Change everything, then load the preset back.
    ResetToDefaults(settings);
    Start();
    ASSERT_FALSE(Controls() == saved);
    Load(path);
    EXPECT_TRUE(surface.messages.empty());
    EXPECT_TRUE(Controls() == saved);
    EXPECT_EQ(surface.check[kSofterCheck], kIndeterminate);
    EXPECT_TRUE(surface.radio[kFlipVertRadio]);
    EXPECT_TRUE(surface.radio[kKeyPrepWhiteRadio]);
}

TEST_F(Preset, BoxesCheckedByTheUserComeBackOn) {
    Start();
    for (const auto& slot : kPresetSwitchSlots) surface.check[slot.check] = kChecked;
    surface.check[kFlipFrameCheck] = kChecked;
    surface.check[kKeyPrepCheck] = kChecked;
    surface.Select(kFlipVertRadio, {kFlipHorzRadio, kFlipVertRadio});
    surface.Select(kKeyPrepWhiteRadio, {kKeyPrepBlackRadio, kKeyPrepWhiteRadio});
    const Snapshot before = Controls();
    controller->WriteBack();
    const FilterSettings written = settings;
    Save(dir / "checked.lmx");

    ResetToDefaults(settings);
    Start();
    Load(dir / "checked.lmx");
    for (const auto& slot : kPresetSwitchSlots)
        EXPECT_EQ(surface.check[slot.check], before.check.at(slot.check)) << slot.offset;
    EXPECT_NE(surface.check[kFlipFrameCheck], kUnchecked);
    EXPECT_NE(surface.check[kKeyPrepCheck], kUnchecked);
    EXPECT_EQ(surface.radio, before.radio);
    controller->WriteBack();
    EXPECT_TRUE(SameRecord(settings, written));
}

TEST_F(Preset, LoadThenCancelChangesOnlyTheColourRange) {
    EverythingOn(settings);
    settings.r1 = 11;
    settings.g1 = 22;
    settings.b1 = 33;
    settings.r2 = 44;
    settings.g2 = 55;
    settings.b2 = 66;
    Start();
    Save(dir / "p.lmx");

    ResetToDefaults(settings);
    FilterSettings expected = settings;
    expected.r1 = 11;
    expected.g1 = 22;
    expected.b1 = 33;
    expected.r2 = 44;
    expected.g2 = 55;
    expected.b2 = 66;
    Start();
    Load(dir / "p.lmx");
    EXPECT_EQ(controller->Command(kCancelButton), CommandResult::CloseCancel);
    EXPECT_TRUE(SameRecord(settings, expected));
}

TEST_F(Preset, PlainPresetsLoad) {
    // A preset as earlier saves wrote it: switches 0 or 1, bytes after the
    // text terminators and in the unused slots holding anything.
    Bytes bytes;
    bytes.fill(0xCD);
    const char* texts[] = {"2", "90", "80", "70", "60", "50", "40", "30", "20", "10",
                           "9", "8", "7", "6", "5"};
    for (std::size_t i = 0; i < kPresetTextSlots.size(); ++i) {
        std::memcpy(&bytes[kPresetTextSlots[i].offset], texts[i], std::strlen(texts[i]) + 1);
    }
    const char* range[] = {"1", "2", "3", "200", "210", "220"};
    for (std::size_t i = 0; i < 6; ++i) {
        std::memcpy(&bytes[kPresetColourSlots[i].offset], range[i], std::strlen(range[i]) + 1);
    }
    PutPresetInt(bytes, 80, 4);
    for (const auto& slot : kPresetSwitchSlots) {
        PutPresetInt(bytes, slot.offset, slot.offset % 8 == 0);
    }
    PutPresetInt(bytes, 104, 1);
    PutPresetInt(bytes, 108, 0);
    WriteBytes(dir / "plain.lmx", bytes.data(), bytes.size());

    Start();
    Load(dir / "plain.lmx");
    for (std::size_t i = 0; i < kPresetTextSlots.size(); ++i)
        EXPECT_EQ(surface.text[kPresetTextSlots[i].edit], texts[i]);
    EXPECT_EQ(settings.r1, 1);
    EXPECT_EQ(settings.b1, 3);
    EXPECT_EQ(settings.r2, 200);
    EXPECT_EQ(settings.b2, 220);
    for (ControlId id : kFilterRadios) EXPECT_EQ(surface.radio[id], id == kColourRangeRadio);
    for (const auto& slot : kPresetSwitchSlots)
        EXPECT_EQ(surface.check[slot.check], slot.offset % 8 == 0 ? 1 : 0) << slot.offset;
    EXPECT_EQ(surface.check[kFlipFrameCheck], kChecked);
    EXPECT_TRUE(surface.radio[kFlipHorzRadio]);
    EXPECT_FALSE(surface.radio[kFlipVertRadio]);
    EXPECT_EQ(surface.check[kKeyPrepCheck], kUnchecked);
    EXPECT_TRUE(surface.radio[kKeyPrepWhiteRadio]);

    // Slot 80 outside 0..4 selects no radio; a text without its zero shows
    // four characters.
    PutPresetInt(bytes, 80, 9);
    std::memcpy(&bytes[10], "54321", 5);
    WriteBytes(dir / "odd.lmx", bytes.data(), bytes.size());
    Load(dir / "odd.lmx");
    for (ControlId id : kFilterRadios) EXPECT_FALSE(surface.radio[id]) << id;
    EXPECT_EQ(surface.text[kRedPercentEdit], "5432");
}

TEST_F(Preset, CancelledChoosersDoNothing) {
    Start();
    const Snapshot before = Controls();
    const FilterSettings record = settings;
    surface.fileAnswers = {std::nullopt, std::nullopt};
    controller->Command(kMenuOpen);
    controller->Command(kMenuSaveAs);
    EXPECT_EQ(surface.fileRequests,
              (std::vector<FileChooserKind>{FileChooserKind::Open, FileChooserKind::Save}));
    EXPECT_TRUE(surface.messages.empty());
    EXPECT_TRUE(Controls() == before);
    EXPECT_TRUE(SameRecord(settings, record));
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(Preset, UnreadableOrShortFilesChangeNothing) {
    Bytes bytes{};
    PutPresetText(bytes, 10, "1");
    PutPresetText(bytes, 152, "77");
    WriteBytes(dir / "short.lmx", bytes.data(), kPresetSize - 1);
    fs::create_directory(dir / "folder.lmx");
    Start();
    const Snapshot before = Controls();
    const FilterSettings record = settings;
    for (const char* name : {"short.lmx", "missing.lmx", "folder.lmx"}) {
        Load(dir / name);
        ASSERT_EQ(surface.messages.size(), 1u) << name;
        EXPECT_EQ(surface.messages[0].text, "Error reading file!");
        EXPECT_EQ(surface.messages[0].caption, "Error!");
        EXPECT_FALSE(surface.messages[0].ownedByDialog);
        surface.messages.clear();
        EXPECT_TRUE(Controls() == before) << name;
        EXPECT_TRUE(SameRecord(settings, record)) << name;
    }
}

TEST_F(Preset, FailedSaveKeepsTheExistingPreset) {
    EverythingOn(settings);
    Start();
    const fs::path path = dir / "keep.lmx";
    Save(path);
    const Bytes original = ReadBytes(path);

    // The new preset cannot be put in place: writing the temporary file
    // fails (POSIX: the file size limit stops it, as a full disk would), or
    // the existing preset is open in another program (Windows).
    surface.text[kRedPercentEdit] = "1";
    {
#if defined(_WIN32)
        std::ifstream held(path, std::ios::binary);
        Save(path);
#else
        FileSizeLimit limit(kPresetSize / 2);
        Save(path);
#endif
    }
    ASSERT_EQ(surface.messages.size(), 1u);
    EXPECT_EQ(surface.messages[0].text, "Error writing file!");
    EXPECT_EQ(surface.messages[0].caption, "Error!");
    EXPECT_FALSE(surface.messages[0].ownedByDialog);
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"keep.lmx"});

    // A folder that does not exist.
    surface.messages.clear();
    Save(dir / "none" / "x.lmx");
    ASSERT_EQ(surface.messages.size(), 1u);
    EXPECT_EQ(surface.messages[0].text, "Error writing file!");

    // A save over an existing preset replaces it.
    surface.messages.clear();
    Save(path);
    EXPECT_TRUE(surface.messages.empty());
    EXPECT_NE(ReadBytes(path), original);
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"keep.lmx"});
}

TEST_F(Preset, SaveLeavesOtherFilesBesideThePresetAlone) {
    Start();
    const fs::path path = dir / "keep.lmx";
    const uint8_t mine[] = {'m', 'i', 'n', 'e'};
    WriteBytes(dir / "keep.lmx.tmp", mine, sizeof mine);
    Save(path);
    Save(path);
    EXPECT_TRUE(surface.messages.empty());
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"keep.lmx", "keep.lmx.tmp"}));
    EXPECT_EQ(fs::file_size(dir / "keep.lmx"), kPresetSize);
    EXPECT_EQ(fs::file_size(dir / "keep.lmx.tmp"), sizeof mine);
}

// A name typed without an extension is saved with ".lmx", so that Open
// lists it; a name with an extension of its own is kept.
TEST_F(Preset, SaveAddsTheExtensionWhenNoneWasTyped) {
    Start();
    Save(dir / "look");
    Save(dir / "look.v2");
    EXPECT_TRUE(surface.messages.empty());
    EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"look.lmx", "look.v2"}));
    EXPECT_EQ(WithPresetExtension("a.d/.hidden"), "a.d/.hidden.lmx");
    EXPECT_EQ(WithPresetExtension("C:\\a.d\\look"), "C:\\a.d\\look.lmx");
    EXPECT_EQ(WithPresetExtension("look.LMX"), "look.LMX");
}

TEST_F(Preset, NoBufferNoChooser) {
    failAllocation = true;
    Start();
    controller->Command(kMenuSaveAs);
    controller->Command(kMenuOpen);
    EXPECT_TRUE(surface.fileRequests.empty());
    ASSERT_EQ(surface.messages.size(), 2u);
    for (const auto& message : surface.messages) {
        EXPECT_EQ(message.text, "Out Of Memory");
        EXPECT_EQ(message.caption, "ERROR");
        EXPECT_TRUE(message.ownedByDialog);
    }
}

}  // namespace
}  // namespace lumafex
