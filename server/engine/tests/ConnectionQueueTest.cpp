// The queue between the server thread and the workers: order, who is woken
// and when, and a stop that reaches sleeping workers.
#include "ConnectionQueue.h"
#include "PendingConnection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

bool eventually(const std::function<bool()>& condition, int ms)
{
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

TEST(ConnectionQueueTest, FirstInFirstOutAcrossGrowth)
{
    ConnectionQueue queue;
    std::vector<PendingConnection> items(200);
    std::atomic<bool> stop {false};
    for (auto& item : items)
        queue.push(&item, 0);
    EXPECT_EQ(200u, queue.size());
    for (auto& item : items)
        EXPECT_EQ(static_cast<ScriptJob*>(&item), queue.pop(stop));
    std::vector<ScriptJob*> rest;
    queue.push(&items[0], 0);
    queue.drain(rest);
    ASSERT_EQ(1u, rest.size());
    EXPECT_EQ(0u, queue.size());
}

TEST(ConnectionQueueTest, SleepersAreWokenOnlyWhenServingWorkersCannotKeepUp)
{
    ConnectionQueue queue;
    std::atomic<bool> stop {false};
    std::atomic<int> taken {0};
    PendingConnection first, second, third;
    // Two workers; each holds what it took until released.
    std::atomic<int> release {0};
    auto worker = [&] {
        while (ScriptJob* c = queue.pop(stop)) {
            (void)c;
            int mine = ++taken;
            while (release.load() < mine && !stop.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    std::thread a(worker), b(worker);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    // Nobody serves: the first connection wakes a worker at once.
    queue.push(&first, nowMs());
    ASSERT_TRUE(eventually([&] { return taken.load() == 1; }, 500));
    // One worker serves: one more waiting connection is left to it...
    queue.push(&second, nowMs());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(1, taken.load());
    // ...until the server thread finds it waited too long.
    EXPECT_TRUE(queue.kick(nowMs() + ConnectionQueue::KICK_MS));
    ASSERT_TRUE(eventually([&] { return taken.load() == 2; }, 500));
    EXPECT_FALSE(queue.kick(nowMs()));

    // Both serve; two more waiting than serving is not: the third waits for
    // a worker that is done.
    queue.push(&third, nowMs());
    release = 1;
    ASSERT_TRUE(eventually([&] { return taken.load() == 3; }, 500));

    stop = true;
    queue.wakeAll();
    a.join();
    b.join();
}

} // namespace
