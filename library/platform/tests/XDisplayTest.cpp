// Display devices and modes read from a fresh X server on the first call:
// no other client has asked the server about its outputs yet.

#include <algorithm>

#include "DisplayProvider.h"
#include "XServerFixture_p.h"

namespace {

TEST(XDisplay, AFreshServerIsDescribedOnTheFirstCall)
{
    if (!xtest::onPath("Xvfb")) GTEST_SKIP() << "no Xvfb here";
    for (int round = 0; round < 3; round++) {
        pid_t server = xtest::XServer::startServer();
        ASSERT_GT(server, 0);
        wplat::DisplayModeInfo current;
        bool haveCurrent = wplat::displayProvider().currentMode("", current);
        std::vector<wplat::DisplayModeInfo> modes;
        bool haveModes = wplat::displayProvider().modes("", modes);
        std::vector<wplat::DisplayDeviceInfo> devices;
        wplat::displayProvider().devices(devices);
        xtest::XServer::stop(server);

        ASSERT_TRUE(haveCurrent) << round;
        EXPECT_EQ(current.width, 1024u) << round;
        EXPECT_EQ(current.height, 768u) << round;
        EXPECT_EQ(current.bitsPerPixel, 32u) << round;
        ASSERT_TRUE(haveModes) << round;
        EXPECT_FALSE(modes.empty()) << round;
        EXPECT_NE(std::find_if(modes.begin(), modes.end(),
                      [&](const wplat::DisplayModeInfo& m) {
                          return m.width == current.width && m.height == current.height;
                      }),
            modes.end())
            << round;
        ASSERT_EQ(devices.size(), 1u) << round;
        EXPECT_TRUE(devices[0].primary);
        EXPECT_EQ(devices[0].monitorArea.right - devices[0].monitorArea.left, 1024);
    }
}

} // namespace
