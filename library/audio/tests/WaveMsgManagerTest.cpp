#include "WWaveMsgManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using std::chrono::milliseconds;

namespace {

struct Counter final : WWaveMsgManager::EventHandler {
    std::atomic<int> calls {0};
    std::atomic<bool> onCallerThread {false};
    std::thread::id caller = std::this_thread::get_id();
    WWaveMsgManager* closeFromHandler = nullptr;

    void onPlayNextWaveBlock() override
    {
        if (std::this_thread::get_id() == caller) onCallerThread = true;
        if (closeFromHandler) closeFromHandler->close();
        ++calls;
    }

    bool waitFor(int n)
    {
        for (int i = 0; i < 2000 && calls < n; ++i)
            std::this_thread::sleep_for(milliseconds(1));
        return calls >= n;
    }
};

} // namespace

TEST(WaveMsgManager, HandlerRunsOnTheManagersThread)
{
    Counter c;
    WWaveMsgManager m;
    m.create(&c);
    std::thread notifier([&m] { m.notifyWaveBlockDone(); });
    notifier.join();
    ASSERT_TRUE(c.waitFor(1));
    EXPECT_FALSE(c.onCallerThread);

    // A burst merges into fewer calls, but never into none.
    c.calls = 0;
    for (int i = 0; i < 50; ++i)
        m.notifyWaveBlockDone();
    ASSERT_TRUE(c.waitFor(1));
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_LE(c.calls, 50);
    m.close();
    EXPECT_FALSE(m.getThread().isActive());

    // Notifications after close reach nobody; create starts it again.
    int before = c.calls;
    m.notifyWaveBlockDone();
    std::this_thread::sleep_for(milliseconds(10));
    EXPECT_EQ(c.calls, before);
    m.create(&c);
    EXPECT_TRUE(c.waitFor(before + 1)); // the signal left waiting is delivered
    m.close();
}

TEST(WaveMsgManager, CloseFromIdleAndFromTheHandler)
{
    {
        WWaveMsgManager idle;
        idle.close();
    }
    Counter c;
    WWaveMsgManager m;
    c.closeFromHandler = &m;
    m.create(&c);
    m.notifyWaveBlockDone();
    ASSERT_TRUE(c.waitFor(1));
    for (int i = 0; i < 1000 && m.getThread().isActive(); ++i)
        std::this_thread::sleep_for(milliseconds(1));
    EXPECT_FALSE(m.getThread().isActive());
    m.close();
    {
        WWaveMsgManager running;
        running.create(&c); // the destructor stops it
    }
}
