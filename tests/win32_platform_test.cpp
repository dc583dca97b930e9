// The Windows side of the platform layer, and the module file as a 32-bit
// Windows host loads it: global memory blocks, message boxes, the module's
// own instance handle, and working memory that a 32-bit process cannot hold.
#if defined(_WIN32)

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "abi/host_interface.h"
#include "host/module.h"
#include "host/servers.h"
#include "pipeline/frame/frame_parameters.h"
#include "pipeline/frame/frame_view.h"
#include "pipeline/passes/blur.h"
#include "pipeline/passes/dof_blur.h"
#include "pipeline/passes/softer_blur.h"
#include "pipeline/passes/softer_dof_blur.h"
#include "platform/memory.h"
#include "platform/messages.h"
#include "platform/module_handle.h"
#include "settings/filter_settings.h"
#include "support/fake_host.h"

namespace lumafex {
namespace {

// Watches for message boxes and dialogs shown on this thread while it
// lives: records each one's caption, texts, buttons and owner, and closes
// it with Cancel when it has that button, else with OK.
class MessageBoxWatcher {
public:
    struct Box {
        std::string caption;
        std::vector<std::string> texts;
        std::vector<std::string> buttons;
        HWND owner = nullptr;
    };

    MessageBoxWatcher() {
        current_ = this;
        hook_ = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
    }
    ~MessageBoxWatcher() {
        if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    bool active() const { return hook_ != nullptr; }
    std::vector<Box> boxes;

private:
    static std::string TextOf(HWND window) {
        char text[512] = {};
        GetWindowTextA(window, text, sizeof text);
        return text;
    }
    static BOOL CALLBACK Child(HWND child, LPARAM context) {
        Box& box = *reinterpret_cast<Box*>(context);
        char cls[64] = {};
        GetClassNameA(child, cls, sizeof cls);
        const std::string text = TextOf(child);
        if (std::strcmp(cls, "Button") == 0) {
            box.buttons.push_back(text);
        } else if (std::strcmp(cls, "Static") == 0 && !text.empty()) {
            box.texts.push_back(text);
        }
        return TRUE;
    }
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_ACTIVATE && current_ != nullptr) {
            const auto window = reinterpret_cast<HWND>(wParam);
            char cls[64] = {};
            GetClassNameA(window, cls, sizeof cls);
            if (std::strcmp(cls, "#32770") == 0) {  // the dialog class of message boxes
                Box box;
                box.caption = TextOf(window);
                box.owner = GetWindow(window, GW_OWNER);
                EnumChildWindows(window, Child, reinterpret_cast<LPARAM>(&box));
                bool cancel = false;
                for (const std::string& button : box.buttons) cancel |= button == "Cancel";
                current_->boxes.push_back(box);
                PostMessageA(window, WM_COMMAND, cancel ? IDCANCEL : IDOK, 0);
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline MessageBoxWatcher* current_ = nullptr;
    HHOOK hook_ = nullptr;
};

// LUMAFEX3.P from the folder of this program.
std::string ModuleFilePath() {
    char self[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, n < MAX_PATH ? n : 0);
    const std::size_t slash = path.find_last_of("\\/");
    path.erase(slash == std::string::npos ? 0 : slash + 1);
    return path + platform::kModuleFileName;
}

TEST(Win32Memory, BlocksAreLockedMovableZeroFilledGlobalMemory) {
    platform::MemoryBlock block = platform::MemoryBlock::Allocate(1000);
    ASSERT_TRUE(block);
    const HGLOBAL handle = GlobalHandle(block.data());
    ASSERT_NE(handle, nullptr);
    // A movable block is reached through a handle distinct from its address.
    EXPECT_NE(static_cast<void*>(handle), block.data());
    EXPECT_EQ(GlobalFlags(handle) & GMEM_LOCKCOUNT, 1u);
    EXPECT_GE(GlobalSize(handle), 1000u);
    const auto* bytes = static_cast<const uint8_t*>(block.data());
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 1000), std::vector<uint8_t>(1000, 0));

    // An empty request still gives a block of its own.
    platform::MemoryBlock empty = platform::MemoryBlock::Allocate(0);
    ASSERT_TRUE(empty);
    EXPECT_NE(GlobalHandle(empty.data()), nullptr);

    block.Release();
    EXPECT_FALSE(block);
    EXPECT_EQ(GlobalFlags(handle), static_cast<UINT>(GMEM_INVALID_HANDLE));
}

#if UINTPTR_MAX == 0xFFFFFFFFu
// 3.75 GiB: a valid size that no 32-bit process can hold.
constexpr std::size_t kBeyondTheAddressSpace = 0x3C000000u;
#else
// 4 EiB: a valid size that no 64-bit process can hold.
constexpr std::size_t kBeyondTheAddressSpace = std::size_t{1} << 60;
#endif

TEST(Win32Memory, RequestsBeyondTheAddressSpaceGiveEmptyArrays) {
    auto huge = platform::WorkingArray<int32_t>::Allocate(kBeyondTheAddressSpace);
    EXPECT_FALSE(huge);
    EXPECT_EQ(huge.size(), 0u);
    // A byte count that does not fit a 32-bit size.
    auto overflowing = platform::WorkingArray<double>::Allocate(SIZE_MAX / 4);
    EXPECT_FALSE(overflowing);
}

// A frame of 32768 x 30000 pixels (2^30 x 2^29 in a 64-bit process): its
// pixel count fits a size, but none of the passes' working arrays fits the
// address space, so every pass is skipped without reading the (eight-byte)
// planes or the depth rows.
TEST(Win32Memory, PassesAreSkippedWhenTheirArraysCannotBeHad) {
    uint8_t plane[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    static int depthFetches = 0;
    FrameView view;
#if UINTPTR_MAX == 0xFFFFFFFFu
    view.width = 32768;
    view.height = 30000;
#else
    view.width = int32_t{1} << 30;
    view.height = int32_t{1} << 29;
#endif
    view.red = view.green = view.blue = view.alpha = view.shadow = plane;
    view.depthRow = [](const void*, int32_t) -> const float* {
        ++depthFetches;
        return nullptr;
    };

    FilterSettings s{};
    ResetToDefaults(s);
    s.BlurFlag = 1;
    s.DOFBlurFlag = 1;
    const FrameParameters p = ComputeFrameParameters(s);
    EXPECT_FALSE(BlurPass(view, s, p));
    EXPECT_FALSE(DepthOfFieldBlurPass(view, s, p));
    s.SofterBlurFlag = 1;
    EXPECT_FALSE(SofterBlurPass(view, s, p));
    EXPECT_FALSE(SofterDepthOfFieldBlurPass(view, s, p));
    EXPECT_EQ(std::vector<uint8_t>(plane, plane + 8),
              (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(depthFetches, 0);
}

TEST(Win32Messages, ABoxWithNoOwnerAndASingleOkButton) {
    MessageBoxWatcher watcher;
    ASSERT_TRUE(watcher.active());
    platform::ShowMessage("Out Of Memory", "ERROR");
    ASSERT_EQ(watcher.boxes.size(), 1u)
        << "no message box appeared (Wine needs a graphics driver, e.g. the null one)";
    const MessageBoxWatcher::Box& box = watcher.boxes[0];
    EXPECT_EQ(box.caption, "ERROR");
    EXPECT_EQ(box.texts, std::vector<std::string>{"Out Of Memory"});
    EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(box.owner, nullptr);
}

class Win32ModuleFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(platform::FindModuleHandle(), nullptr) << "the module file is already loaded";
        library = LoadLibraryA(ModuleFilePath().c_str());
        ASSERT_NE(library, nullptr) << ModuleFilePath() << ": error " << GetLastError();
        descriptor =
            reinterpret_cast<const ModuleDescriptor*>(GetProcAddress(library, "_mod_descrip"));
        ASSERT_NE(descriptor, nullptr);
    }
    void TearDown() override {
        if (library != nullptr) FreeLibrary(library);
    }
    HMODULE library = nullptr;
    const ModuleDescriptor* descriptor = nullptr;
};

// Interface activation looks the module up by its file name and runs the
// dialog from the template in that file (the test program itself has none),
// so the dialog only appears when the kept handle is the module's. It is
// cancelled here.
TEST_F(Win32ModuleFile, InterfaceActivationRunsTheDialogFromTheModuleFile) {
    EXPECT_EQ(platform::FindModuleHandle(), static_cast<void*>(library));
    Module& module = TheModule();
    module.instanceHandle = nullptr;
    module.hostWindow = nullptr;
    MessageBoxWatcher watcher;
    ASSERT_TRUE(watcher.active());
    EXPECT_EQ(InterfaceActivate(1, nullptr, nullptr, nullptr), host::kActivateOk);
    EXPECT_EQ(module.instanceHandle, static_cast<void*>(library));
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].owner, nullptr);
    EXPECT_EQ(InterfaceActivate(2, nullptr, nullptr, nullptr), host::kActivateBadVersion);
    EXPECT_EQ(watcher.boxes.size(), 1u);
}

// The refusal of an odd width through the module file: a system message box
// for each such frame, and not one pixel written back.
TEST_F(Win32ModuleFile, OddWidthFramesShowABoxAndWriteNothing) {
    testing::FakeHost host;
    void* started = descriptor->startup();
    HandlerTable table{};
    ASSERT_EQ(descriptor->servers[0].activate(1, host.Lookup(), &table, nullptr), 0);
    void* instance = table.create(nullptr);
    ASSERT_NE(instance, nullptr);

    MessageBoxWatcher watcher;
    ASSERT_TRUE(watcher.active());
    host.SetFrameSize(642, 2);
    FrameAccess frame = host.Frame(0.0);
    table.process(instance, &frame);
    table.process(instance, &frame);
    EXPECT_TRUE(host.output.empty());
    ASSERT_EQ(watcher.boxes.size(), 2u);
    for (const MessageBoxWatcher::Box& box : watcher.boxes) {
        EXPECT_EQ(box.caption, "Odd Sized Frame");
        EXPECT_EQ(box.texts, std::vector<std::string>{"Image width must be a multiple of 8"});
        EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
        EXPECT_EQ(box.owner, nullptr);
    }

    host.SetFrameSize(640, 2);
    frame = host.Frame(0.0);
    table.process(instance, &frame);
    EXPECT_EQ(host.output.size(), 2u * 640 * 2);
    EXPECT_EQ(watcher.boxes.size(), 2u);

    table.destroy(instance);
    descriptor->shutdown(started);
}

}  // namespace
}  // namespace lumafex

#endif  // _WIN32
