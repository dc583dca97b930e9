#include <gtest/gtest.h>

#include <cstring>

#include "host/handler.h"
#include "host/servers.h"
#include "support/fake_host.h"

namespace lumafex {
namespace {

using testing::FakeHost;

// Every test leaves the module with no live instance.
class Handler : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(HandlerActivate(1, host.Lookup(), &table, nullptr), host::kActivateOk);
    }
    FakeHost host;
    HandlerTable table{};
};

TEST(HandlerActivation, RefusesOtherVersionsButKeepsTheLookup) {
    FakeHost host;
    HandlerTable table;
    std::memset(&table, 0xAB, sizeof table);
    HandlerTable before;
    std::memcpy(&before, &table, sizeof table);
    TheModule().lookup = nullptr;
    EXPECT_EQ(HandlerActivate(2, host.Lookup(), &table, nullptr), host::kActivateBadVersion);
    EXPECT_EQ(std::memcmp(&before, &table, sizeof table), 0);
    EXPECT_EQ(TheModule().lookup, host.Lookup());
    EXPECT_EQ(InterfaceActivate(0, host.Lookup(), nullptr, nullptr), host::kActivateBadVersion);
}

TEST(HandlerActivation, MissingDisplayInfoLeavesTableAndRecordInPlace) {
    FakeHost host;
    host.provideDisplayInfo = false;
    HandlerTable table{};
    EXPECT_EQ(HandlerActivate(1, host.Lookup(), &table, nullptr), host::kActivateGlobalMissing);
    ASSERT_NE(table.create, nullptr);
    EXPECT_NE(TheModule().record.Get(), nullptr);
    void* instance = table.create(nullptr);
    EXPECT_NE(instance, nullptr);
    table.destroy(instance);
}

TEST_F(Handler, KeepsTheHostWindowAndAnswersFlags) {
    EXPECT_EQ(TheModule().hostWindow, host.displayInfo.mainWindow);
    EXPECT_EQ(table.flags(nullptr), 0x1400u);
    for (void* table_ptr : {reinterpret_cast<void*>(table.create), reinterpret_cast<void*>(table.destroy),
                            reinterpret_cast<void*>(table.copy), reinterpret_cast<void*>(table.load),
                            reinterpret_cast<void*>(table.save), reinterpret_cast<void*>(table.process),
                            reinterpret_cast<void*>(table.flags)}) {
        EXPECT_NE(table_ptr, nullptr);
    }
}

TEST_F(Handler, EveryInstanceIsTheOneSharedRecord) {
    const char* error = "untouched";
    auto* first = static_cast<FilterSettings*>(table.create(&error));
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(error, "untouched");  // not written on success
    first->RedPercent = 42;
    auto* second = static_cast<FilterSettings*>(table.create(nullptr));
    EXPECT_EQ(first, second);
    EXPECT_EQ(second->RedPercent, 100);  // the second create reset it

    second->GammaPercent = 7;
    FilterSettings snapshot;
    std::memcpy(&snapshot, first, sizeof snapshot);
    EXPECT_EQ(table.copy(first, second), nullptr);
    EXPECT_EQ(std::memcmp(&snapshot, first, sizeof snapshot), 0);
    EXPECT_EQ(table.flags(first), 0x1400u);

    table.destroy(first);
    table.destroy(second);
}

TEST_F(Handler, CreateResetsTheLatchAndNegativeAlpha) {
    auto* record = static_cast<FilterSettings*>(table.create(nullptr));
    record->SofterExtraFlag = 1;
    record->ReverseAlphaFlag = 1;
    table.create(nullptr);
    EXPECT_EQ(record->SofterExtraFlag, 0);
    EXPECT_EQ(record->ReverseAlphaFlag, 0);
    table.destroy(record);
    table.destroy(record);
}

TEST_F(Handler, RecordLivesUntilTheLastInstanceIsDestroyed) {
    auto* first = static_cast<FilterSettings*>(table.create(nullptr));
    auto* second = static_cast<FilterSettings*>(table.create(nullptr));
    second->BlurPercent = 55;
    table.destroy(first);
    ASSERT_EQ(TheModule().record.Get(), second);
    EXPECT_EQ(second->BlurPercent, 55);

    // A new activation while an instance lives keeps its record.
    EXPECT_EQ(HandlerActivate(1, host.Lookup(), &table, nullptr), host::kActivateOk);
    EXPECT_EQ(TheModule().record.Get(), second);
    EXPECT_EQ(second->BlurPercent, 55);

    table.destroy(second);
    EXPECT_EQ(TheModule().record.Get(), nullptr);
    EXPECT_EQ(TheModule().record.instanceCount(), 0);
    // A destroy too many is harmless.
    table.destroy(second);
    EXPECT_EQ(TheModule().record.instanceCount(), 0);
}

TEST_F(Handler, ActivationWithoutInstancesGivesAZeroFilledRecord) {
    auto* record = static_cast<FilterSettings*>(table.create(nullptr));
    table.destroy(record);
    ASSERT_EQ(HandlerActivate(1, host.Lookup(), &table, nullptr), host::kActivateOk);
    const FilterSettings* fresh = TheModule().record.Get();
    ASSERT_NE(fresh, nullptr);
    FilterSettings zero{};
    EXPECT_EQ(std::memcmp(fresh, &zero, sizeof zero), 0);
}

TEST_F(Handler, SlotsWithoutAnInstanceFindARecord) {
    // A save before any create still has a record to read from.
    struct Lines {
        int count = 0;
    } lines;
    const SaveState save{0, &lines, [](void* context, const char*, int32_t length) {
                             EXPECT_EQ(length, 80);
                             ++static_cast<Lines*>(context)->count;
                         }};
    EXPECT_EQ(table.save(nullptr, &save), nullptr);
    EXPECT_EQ(lines.count, 38);
}

}  // namespace
}  // namespace lumafex
