// Loads the built module file the way a host does and drives a frame
// through its handler table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "abi/host_interface.h"
#include "settings/filter_settings.h"
#include "support/fake_host.h"
#include "support/line_store.h"

namespace lumafex {
namespace {

using testing::FakeHost;

using testing::Lines;
using testing::ReadLine;
using testing::WriteLine;

#if defined(_WIN32)
// The module file in the folder of this program, found the way a host finds
// a plug-in it was told the path of.
std::string ModulePath() {
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, n < MAX_PATH ? n : 0);
    const std::size_t slash = path.find_last_of("\\/");
    path.erase(slash == std::string::npos ? 0 : slash + 1);
    return path + LUMAFEX_MODULE_FILE;
}

struct Library {
    HMODULE handle = nullptr;
    std::string error;
    bool Open() {
        const std::string path = ModulePath();
        handle = LoadLibraryA(path.c_str());
        if (handle == nullptr) error = path + ": error " + std::to_string(GetLastError());
        return handle != nullptr;
    }
    void* Symbol(const char* name) const {
        return reinterpret_cast<void*>(GetProcAddress(handle, name));
    }
    void Close() {
        if (handle != nullptr) FreeLibrary(handle);
        handle = nullptr;
    }
};
#else
struct Library {
    void* handle = nullptr;
    std::string error;
    bool Open() {
        handle = dlopen(LUMAFEX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) error = dlerror();
        return handle != nullptr;
    }
    void* Symbol(const char* name) const { return dlsym(handle, name); }
    void Close() {
        if (handle != nullptr) dlclose(handle);
        handle = nullptr;
    }
};
#endif

class LoadedModule : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library.Open()) << library.error;
        descriptor = static_cast<const ModuleDescriptor*>(library.Symbol("_mod_descrip"));
        ASSERT_NE(descriptor, nullptr);
    }
    void TearDown() override { library.Close(); }
    Library library;
    const ModuleDescriptor* descriptor = nullptr;
};

TEST_F(LoadedModule, DescribesItselfAndItsTwoServers) {
    EXPECT_EQ(descriptor->sync, 0x04121994u);
    EXPECT_EQ(descriptor->version, 2u);
    EXPECT_EQ(descriptor->machine, 0x300u);
    void* started = descriptor->startup();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(started), 4u);
    const ServerRecord* s = descriptor->servers;
    EXPECT_STREQ(s[0].serverClass, "ImageFilterHandler");
    EXPECT_STREQ(s[0].name, "Lumafex3");
    EXPECT_STREQ(s[1].serverClass, "ImageFilterInterface");
    EXPECT_STREQ(s[1].name, "Lumafex3");
    EXPECT_EQ(s[2].serverClass, nullptr);
    EXPECT_EQ(s[2].name, nullptr);
    EXPECT_EQ(s[2].activate, nullptr);
    descriptor->shutdown(started);
}

// Handler activation and instances as the host sees them through the
// module file: a refused version leaves the table alone, and every create
// hands out the one shared record, reset to its defaults.
TEST_F(LoadedModule, ActivatesItsHandlerAndSharesOneRecord) {
    FakeHost host;
    void* started = descriptor->startup();
    const ActivateFunc activate = descriptor->servers[0].activate;
    HandlerTable table{};
    const HandlerTable untouched{};
    EXPECT_EQ(activate(2, host.Lookup(), &table, nullptr), 1);
    EXPECT_EQ(std::memcmp(&table, &untouched, sizeof table), 0);
    ASSERT_EQ(activate(1, host.Lookup(), &table, nullptr), 0);
    EXPECT_EQ(table.flags(nullptr), 0x1400u);

    auto* first = static_cast<FilterSettings*>(table.create(nullptr));
    ASSERT_NE(first, nullptr);
    first->RedPercent = 55;
    auto* second = static_cast<FilterSettings*>(table.create(nullptr));
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->RedPercent, 100);
    second->GreenPercent = 70;
    EXPECT_EQ(first->GreenPercent, 70);
    EXPECT_EQ(table.copy(first, second), nullptr);
    EXPECT_EQ(first->GreenPercent, 70);

    table.destroy(second);
    table.destroy(first);
    descriptor->shutdown(started);
}

TEST_F(LoadedModule, FiltersAFrameThroughTheHandlerTable) {
    FakeHost host;
    void* started = descriptor->startup();
    HandlerTable table{};
    ASSERT_EQ(descriptor->servers[0].activate(1, host.Lookup(), &table, nullptr), 0);
    ASSERT_EQ(table.flags(nullptr), 0x1400u);
    void* instance = table.create(nullptr);
    ASSERT_NE(instance, nullptr);

    // The settings arrive as the scene's stored lines: negative image on.
    Lines defaults;
    const SaveState save{0, &defaults, WriteLine};
    table.save(instance, &save);
    ASSERT_EQ(defaults.lines.size(), 38u);
    EXPECT_EQ(defaults.lines.front(), "Version 1");
    Lines stored = defaults;
    for (std::string& line : stored.lines) {
        if (line.rfind("NegativeImageFlag ", 0) == 0) line = "NegativeImageFlag 1";
    }
    const LoadState load{0, &stored, ReadLine};
    table.load(instance, &load);

    host.SetFrameSize(16, 3);
    for (std::size_t i = 0; i < host.red.size(); ++i) {
        host.red[i] = static_cast<uint8_t>(i);
        host.green[i] = static_cast<uint8_t>(100 + i);
        host.blue[i] = 200;
        host.alpha[i] = 255;
    }
    const std::vector<uint8_t> red = host.red;
    const std::vector<uint8_t> green = host.green;
    const FrameAccess frame = host.Frame(0.0);
    table.process(instance, &frame);
    ASSERT_EQ(host.output.size(), 2u * 16 * 3);
    for (std::size_t i = 0; i < red.size(); ++i) {
        EXPECT_EQ(host.outRed[i], 255 - red[i]);
        EXPECT_EQ(host.outGreen[i], 255 - green[i]);
        EXPECT_EQ(host.outBlue[i], 55);
        EXPECT_EQ(host.outAlpha[i], 255);
    }

    Lines after;
    const SaveState saveAfter{0, &after, WriteLine};
    table.save(instance, &saveAfter);
    EXPECT_EQ(after.lines, stored.lines);

    table.destroy(instance);
    descriptor->shutdown(started);
}

}  // namespace
}  // namespace lumafex
