#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "RunBody.h"
#include "WCriticalSection.h"
#include "WMutex.h"
#include "WMutexLocker.h"
#include "WSemaphore.h"

TEST(SemaphoreTest, WaitWithoutLimitBlocksUntilASignal)
{
    WSemaphore s(0);
    std::atomic<bool> woken {false};
    RunBody r([&] { woken = s.wait(0); });
    ASSERT_TRUE(r.start());
    EXPECT_FALSE(r.t().join(60));
    EXPECT_FALSE(woken.load());
    s.signal();
    ASSERT_TRUE(r.t().join(5000));
    EXPECT_TRUE(woken.load());
}

TEST(SemaphoreTest, TimedWaitTimesOut)
{
    WSemaphore s(0);
    Stopwatch w;
    EXPECT_FALSE(s.wait(100));
    EXPECT_GE(w.ms(), 95);
    EXPECT_LT(w.ms(), 2000);
}

TEST(SemaphoreTest, CountsAreKept)
{
    WSemaphore s(3);
    EXPECT_TRUE(s.wait(10));
    EXPECT_TRUE(s.wait(10));
    EXPECT_TRUE(s.wait(10));
    EXPECT_FALSE(s.wait(10));
    s.signal();
    s.signal();
    EXPECT_TRUE(s.wait(10));
    EXPECT_TRUE(s.wait(-5)); // below 1: no limit, and a count is there
    EXPECT_FALSE(s.wait(10));
}

TEST(SemaphoreTest, WithoutASemaphoreNothingHappens)
{
    WSemaphore s;
    EXPECT_FALSE(s.isCreated());
    EXPECT_FALSE(s.wait(0)); // no semaphore: false at once, even "without limit"
    s.signal();
    s.create(1);
    EXPECT_TRUE(s.isCreated());
    EXPECT_TRUE(s.wait(10));
    s.create(0); // a new semaphore replaces the old one and its count
    s.signal();
    s.close();
    EXPECT_FALSE(s.wait(10));
    s.close();
}

TEST(SemaphoreTest, ProducersAndConsumersLoseNoCount)
{
    constexpr int PRODUCERS = 4, CONSUMERS = 4, EACH = 5000;
    WSemaphore items(0);
    std::atomic<int> consumed {0};
    std::atomic<bool> done {false};
    std::vector<RunBody> consumers(CONSUMERS);
    for (auto& c : consumers) {
        c.body = [&] {
            while (!done.load())
                if (items.wait(20)) consumed++;
        };
        ASSERT_TRUE(c.start());
    }
    std::vector<std::thread> producers;
    for (int p = 0; p < PRODUCERS; p++)
        producers.emplace_back([&] {
            for (int i = 0; i < EACH; i++)
                items.signal();
        });
    for (auto& p : producers)
        p.join();
    for (int i = 0; i < 500 && consumed.load() < PRODUCERS * EACH; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    done = true;
    for (auto& c : consumers)
        EXPECT_TRUE(c.t().join(5000));
    EXPECT_EQ(consumed.load(), PRODUCERS * EACH);
    EXPECT_FALSE(items.wait(1));
}

TEST(SemaphoreTest, MutexIsReentrantAndExcludesOthers)
{
    WMutex m;
    EXPECT_FALSE(m.enter(10)); // not made yet
    m.create(false);
    ASSERT_TRUE(m.isCreated());
    EXPECT_TRUE(m.enter(-1));
    EXPECT_TRUE(m.enter(0)); // re-entrant
    std::atomic<int> other {-1};
    std::thread([&] { other = m.enter(50) ? 1 : 0; }).join();
    EXPECT_EQ(other.load(), 0);
    m.leave();
    std::thread([&] { other = m.enter(50) ? 1 : 0; }).join();
    EXPECT_EQ(other.load(), 0); // still held once
    m.leave();
    m.leave(); // not the owner any more: ignored
    std::thread([&] {
        other = m.enter(50) ? 1 : 0;
        m.leave();
    }).join();
    EXPECT_EQ(other.load(), 1);
}

TEST(SemaphoreTest, MutexCreatedOwnedAndAbandoned)
{
    WMutex m;
    m.create(true);
    m.create(false); // exists already: nothing changes
    std::atomic<int> other {-1};
    std::thread([&] { other = m.enter(30) ? 1 : 0; }).join();
    EXPECT_EQ(other.load(), 0);
    m.leave();

    // An owner that ends without leaving: the next enter is granted.
    std::thread([&] { m.enter(-1); }).join();
    Stopwatch w;
    EXPECT_TRUE(m.enter(1000));
    EXPECT_LT(w.ms(), 500);
    m.leave();
    m.close();
    EXPECT_FALSE(m.enter(0));
}

TEST(SemaphoreTest, MutexWaitEndsAtTheTimeOrWhenLeft)
{
    WMutex m;
    m.create(true);
    std::atomic<long> waited {-1};
    std::atomic<int> got {-1};
    std::thread waiter([&] {
        Stopwatch w;
        got = m.enter(3000) ? 1 : 0;
        waited = w.ms();
        m.leave();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    m.leave();
    waiter.join();
    EXPECT_EQ(got.load(), 1);
    EXPECT_GE(waited.load(), 100);
    EXPECT_LT(waited.load(), 2000);
}

TEST(SemaphoreTest, LockerExcludesThreadsOverMutexAndSection)
{
    WMutex m;
    m.create(false);
    CRITICAL_SECTION section;
    long mutexCounter = 0, sectionCounter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; i++) {
                {
                    WMutexLocker lock(m);
                    mutexCounter++;
                }
                WMutexLocker lock(section);
                sectionCounter++;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(mutexCounter, 20000);
    EXPECT_EQ(sectionCounter, 20000);
}

TEST(SemaphoreTest, LockerLeavesWhenAnExceptionEndsItsScope)
{
    CRITICAL_SECTION section;
    WMutex m;
    m.create(false);
    try {
        WMutexLocker a(section);
        WMutexLocker b(m);
        throw std::runtime_error("x");
    } catch (std::runtime_error&) {
    }
    std::atomic<int> free {0};
    std::thread([&] {
        if (section.tryLock()) {
            free++;
            section.unlock();
        }
        if (m.enter(0)) {
            free++;
            m.leave();
        }
    }).join();
    EXPECT_EQ(free.load(), 2);
}

TEST(SemaphoreTest, LockingAgainLeavesThePreviousLock)
{
    CRITICAL_SECTION first, second;
    WMutex third;
    third.create(false);
    {
        WMutexLocker lock(first);
        lock.lock(second);
        lock.lock(third);
        std::atomic<int> free {0};
        std::thread([&] {
            free += first.tryLock() ? 1 : 0;
            free += second.tryLock() ? 10 : 0;
            if (free == 11) {
                first.unlock();
                second.unlock();
            }
            free += third.enter(0) ? 100 : 0; // still held
        }).join();
        EXPECT_EQ(free.load(), 11);
    }
    std::atomic<bool> got {false};
    std::thread([&] {
        got = third.enter(0);
        third.leave();
    }).join();
    EXPECT_TRUE(got.load());
    WMutexLocker idle; // holds nothing, leaves nothing
}
