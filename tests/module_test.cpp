// Loads the built module file the way a host does and drives a frame
// through its handler table.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host_interface.h"
#include "support/fake_host.h"

namespace lumafex {
namespace {

using testing::FakeHost;

struct Lines {
    std::vector<std::string> lines;
    std::size_t next = 0;
};

int32_t ReadLine(void* context, char* buffer, int32_t size) {
    auto* l = static_cast<Lines*>(context);
    if (l->next >= l->lines.size()) return -1;
    const std::string& line = l->lines[l->next++];
    const auto n = std::min<std::size_t>(line.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, line.data(), n);
    buffer[n] = '\0';
    return static_cast<int32_t>(n);
}

void WriteLine(void* context, const char* text, int32_t length) {
    static_cast<Lines*>(context)->lines.emplace_back(text,
                                                     strnlen(text, static_cast<std::size_t>(length)));
}

class LoadedModule : public ::testing::Test {
protected:
    void SetUp() override {
        library = dlopen(LUMAFEX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        descriptor = static_cast<const ModuleDescriptor*>(dlsym(library, "_mod_descrip"));
        ASSERT_NE(descriptor, nullptr);
    }
    void TearDown() override {
        if (library != nullptr) dlclose(library);
    }
    void* library = nullptr;
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
