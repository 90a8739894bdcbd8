// Display devices and modes against a fake machine.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "DisplayProvider.h"
#include "WDisplayMode.h"
#include "WException.h"
#include "WLinkedList.h"
#include "WSystem.h"

namespace {

struct FakeDisplays : wplat::DisplayProvider {
    std::vector<wplat::DisplayDeviceInfo> list;
    std::vector<wplat::DisplayModeInfo> all;
    wplat::DisplayModeInfo current {1024, 768, 32, 60};
    std::vector<std::pair<std::string, wplat::DisplayModeInfo>> sets;
    bool refuse = false;

    void devices(std::vector<wplat::DisplayDeviceInfo>& out) override { out = list; }
    bool currentMode(const std::string& device, wplat::DisplayModeInfo& mode) override
    {
        if (device == "gone") return false;
        mode = current;
        return true;
    }
    bool modes(const std::string&, std::vector<wplat::DisplayModeInfo>& out) override
    {
        out = all;
        return true;
    }
    bool setMode(const std::string& device, const wplat::DisplayModeInfo& mode) override
    {
        if (refuse) return false;
        sets.emplace_back(device, mode);
        current = mode;
        return true;
    }
};

class Display : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake = std::make_shared<FakeDisplays>();
        fake->all = {{640, 480, 32, 60}, {640, 480, 32, 75}, {800, 600, 32, 60}, {800, 600, 32, 75}, {800, 600, 32, 75},
            {1024, 768, 32, 60}, {1280, 1024, 32, 0}, {640, 480, 16, 60}};
        wplat::DisplayDeviceInfo a;
        a.name = "DP-1";
        a.description = "Left";
        a.hasMonitor = true;
        a.monitorArea = RECT {0, 0, 1024, 768};
        a.workArea = RECT {0, 0, 1024, 740};
        a.hasGuid = true;
        a.guid.Data1 = 0xABCD;
        wplat::DisplayDeviceInfo b;
        b.name = "HDMI-1";
        b.description = "Right";
        b.primary = true;
        fake->list = {a, b};
        wplat::setDisplayProvider(fake);
    }
    void TearDown() override { wplat::setDisplayProvider(nullptr); }

    std::shared_ptr<FakeDisplays> fake;
    WDisplayDevice primary {"display", "", true, nullptr};
};

TEST_F(Display, ModeRecordIsTheNativeLayout)
{
    WDisplayMode empty;
    EXPECT_EQ(empty.getXRes(), 0u);
    WDisplayMode m(800, 600, 32, 75);
    EXPECT_EQ(sizeof(WDisplayMode), 156u);
    EXPECT_EQ(m.getRecord().dmSize, 156);
    EXPECT_EQ(m.getRecord().dmFields, 0x5C0000u);
    EXPECT_EQ(m.getXRes(), 800u);
    EXPECT_EQ(m.getYRes(), 600u);
    EXPECT_EQ(m.getBPP(), 32u);
    EXPECT_EQ(m.getFrequency(), 75u);
}

TEST_F(Display, ModeListsFilterOnEveryNonZeroValue)
{
    struct Case {
        unsigned long x, y, bpp, hz;
        unsigned long count;
    } cases[] = {{0, 0, 0, 0, 8}, {640, 0, 0, 0, 3}, {640, 480, 32, 0, 2}, {0, 0, 16, 0, 1}, {0, 0, 0, 75, 3},
        {333, 0, 0, 0, 0}};
    for (const Case& c : cases) {
        WLinkedList<WDisplayMode, const WDisplayMode&> modes;
        WSystem::getDisplayModes(modes, primary, c.x, c.y, c.bpp, c.hz);
        EXPECT_EQ(modes.size(), c.count) << c.x << " " << c.bpp << " " << c.hz;
    }
}

TEST_F(Display, OptimalModePicksTheBestRateForTheWidth)
{
    WDisplayMode mode;
    // Already at that width: nothing changes.
    EXPECT_TRUE(WSystem::setOptimalDisplayMode(mode, primary, 1024, 0, 0, 0));
    EXPECT_TRUE(fake->sets.empty());
    EXPECT_EQ(mode.getXRes(), 1024u);
    // No such width: false, the mode stays the current one.
    EXPECT_FALSE(WSystem::setOptimalDisplayMode(mode, primary, 1600, 0, 0, 0));
    EXPECT_TRUE(fake->sets.empty());
    EXPECT_EQ(mode.getXRes(), 1024u);
    // 60 or 75 Hz: 75 Hz; the primary is addressed without a name.
    EXPECT_TRUE(WSystem::setOptimalDisplayMode(mode, primary, 800, 600, 32, 100));
    ASSERT_EQ(fake->sets.size(), 1u);
    EXPECT_EQ(fake->sets[0].first, "");
    EXPECT_EQ(fake->sets[0].second.frequency, 75u);
    // The bound keeps rates above it out.
    fake->current = {1024, 768, 32, 60};
    EXPECT_TRUE(WSystem::setOptimalDisplayMode(mode, primary, 640, 480, 32, 70));
    EXPECT_EQ(fake->sets.back().second.frequency, 60u);
    // Only a default-rate mode: that one.
    fake->current = {1024, 768, 32, 60};
    EXPECT_TRUE(WSystem::setOptimalDisplayMode(mode, primary, 1280, 0, 0, 0));
    EXPECT_EQ(fake->sets.back().second.width, 1280u);
}

TEST_F(Display, FailuresCarryTheirMessages)
{
    WDisplayMode mode;
    WDisplayDevice gone("gone", "", false, nullptr);
    try {
        WSystem::getCurrentDisplayMode(mode, gone);
        FAIL();
    } catch (const WSystemException& e) {
        EXPECT_STREQ(e.getMessage().getBuf(), "Cannot get current display mode for gone");
        EXPECT_EQ(e.getId(), -1);
    }
    fake->refuse = true;
    try {
        WSystem::setDisplayMode(WDisplayMode(640, 480, 32, 60), primary);
        FAIL();
    } catch (const WSystemException& e) {
        EXPECT_STREQ(e.getMessage().getBuf(), "Cannot set display mode.");
        EXPECT_EQ(e.getId(), -3);
    }
    WDisplayDevice other("DP-1", "", false, nullptr);
    try {
        WSystem::setDisplayMode(WDisplayMode(640, 480, 32, 60), other);
        FAIL();
    } catch (const WSystemException& e) {
        EXPECT_STREQ(e.getMessage().getBuf(), "Cannot set display mode for DP-1");
    }
}

TEST_F(Display, DevicesAreKeyedInEnumerationOrder)
{
    WDisplayDeviceTable table;
    WSystem::getDisplayDevices(table);
    ASSERT_EQ(table.size(), 2u);
    const WDisplayDevice& first = table.get(1);
    EXPECT_STREQ(first, "DP-1");
    EXPECT_STREQ(first.getDescription().getBuf(), "Left");
    EXPECT_FALSE(first.isPrimary());
    ASSERT_TRUE(first.isMonitorInfo());
    EXPECT_EQ(first.getMonitorInfo().workArea.bottom, 740);
    EXPECT_EQ(first.getMonitorInfo().monitorArea.bottom, 768);
    ASSERT_NE((GUID*)first, nullptr);
    EXPECT_EQ(((GUID*)first)->Data1, 0xABCDu);
    EXPECT_TRUE(table.get(2).isPrimary());
    EXPECT_EQ((GUID*)table.get(2), nullptr);

    WDisplayDevice found;
    EXPECT_TRUE(WSystem::getDisplayDevice("HDMI-1", found));
    EXPECT_STREQ(found.getDescription().getBuf(), "Right");
    EXPECT_FALSE(WSystem::getDisplayDevice("hdmi-1", found));
    EXPECT_TRUE(WSystem::getDisplayDevice("", found));
    EXPECT_STREQ(found, "display");
    EXPECT_TRUE(found.isPrimary());
}

TEST_F(Display, WithoutADisplayTheTableIsEmpty)
{
    wplat::setDisplayProvider(nullptr);
    const char* saved = getenv("DISPLAY");
    std::string keep = saved != nullptr ? saved : "";
    unsetenv("DISPLAY");
    WDisplayDeviceTable table;
    EXPECT_NO_THROW(WSystem::getDisplayDevices(table));
    EXPECT_EQ(table.size(), 0u);
    WDisplayMode mode;
    EXPECT_THROW(WSystem::getCurrentDisplayMode(mode, MIROLA_DISPLAY_DEVICE_PRIMARY), WSystemException);
    if (saved != nullptr) setenv("DISPLAY", keep.c_str(), 1);
}

} // namespace
