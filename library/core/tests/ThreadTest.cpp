#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

#include "RunBody.h"
#include "WException.h"
#include "WSemaphore.h"
#include "WServerSocket.h"
#include "WSocket.h"
#include "WThread.h"

namespace {

// Sets a flag when destroyed: shows that a killed thread unwound its stack.
struct Unwound {
    std::atomic<bool>& flag;
    ~Unwound() { flag = true; }
};

} // namespace

TEST(ThreadTest, QuickRunEndsAndCanBeRestarted)
{
    std::atomic<int> runs {0};
    RunBody r([&] { runs++; });
    for (int i = 1; i <= 50; i++) {
        ASSERT_TRUE(r.start()) << "round " << i;
        ASSERT_TRUE(r.t().join(5000));
        EXPECT_FALSE(r.t().isActive());
        EXPECT_EQ(r.activeCount(), 0);
        EXPECT_TRUE(r.wasStarted());
        EXPECT_EQ(runs.load(), i);
    }
    // join on an ended thread answers at once, any number of times.
    Stopwatch w;
    EXPECT_TRUE(r.t().join(0));
    EXPECT_TRUE(r.t().join(WThread::INFINITE_WAIT));
    EXPECT_LT(w.ms(), 100);
}

TEST(ThreadTest, WhatRunThrowsIsDroppedAndTheCounterReturnsToZero)
{
    RunBody library([] { throw WFileException("Cannot read file.", -4); });
    RunBody other([] { throw 42; });
    for (RunBody* r : {&library, &other}) {
        ASSERT_TRUE(r->start());
        ASSERT_TRUE(r->t().join(5000));
        EXPECT_FALSE(r->t().isActive());
        EXPECT_EQ(r->activeCount(), 0);
        EXPECT_TRUE(r->start()); // and it can run again
        ASSERT_TRUE(r->t().join(5000));
    }
}

TEST(ThreadTest, StartWhileActiveIsRefused)
{
    WSemaphore go(0);
    std::atomic<unsigned long> tid {0};
    RunBody r([&] {
        tid = WThread::currentThreadId();
        go.wait(0);
    });
    ASSERT_TRUE(r.start());
    unsigned long first = r.t().getThreadId();
    EXPECT_NE(first, 0ul);
    EXPECT_FALSE(r.start());
    EXPECT_TRUE(r.t().isActive());
    EXPECT_EQ(r.t().getThreadId(), first); // the running thread is untouched
    EXPECT_FALSE(r.t().join(50));
    go.signal();
    ASSERT_TRUE(r.t().join(5000));
    EXPECT_EQ(tid.load(), first);
    EXPECT_TRUE(r.start());
    go.signal();
    EXPECT_TRUE(r.t().join(5000));
}

TEST(ThreadTest, IdleThreadAnswersWithoutWaiting)
{
    WThread t;
    Stopwatch w;
    EXPECT_FALSE(t.join(1000));
    EXPECT_FALSE(t.kill());
    EXPECT_FALSE(t.isActive());
    EXPECT_FALSE(t.wait(1000)); // no companion semaphore yet
    t.signal();
    t.suspend();
    t.resume();
    EXPECT_NO_THROW(t.setPriority(WThread::PRIORITY_HIGHEST));
    EXPECT_EQ(t.getPriority(), WThread::PRIORITY_HIGHEST);
    EXPECT_EQ(t.getThreadId(), 0ul);
    EXPECT_FALSE(t.isCurrent());
    EXPECT_LT(w.ms(), 100);
}

TEST(ThreadTest, KillOfAFinishedThreadReturnsFalse)
{
    RunBody r([] {});
    ASSERT_TRUE(r.start());
    ASSERT_TRUE(r.t().join(5000));
    EXPECT_FALSE(r.t().kill());
}

TEST(ThreadTest, PrioritySetBeforeStartAppliesToTheThread)
{
    std::atomic<int> nice {100};
    std::atomic<bool> current {false};
    RunBody r;
    r.body = [&] {
        errno = 0;
        nice = getpriority(PRIO_PROCESS, (id_t)gettid());
        current = r.t().isCurrent();
    };
    r.t().setPriority(WThread::PRIORITY_HIGHEST);
    ASSERT_NO_THROW(r.start()); // also where Linux refuses to raise it
    ASSERT_TRUE(r.t().join(5000));
    EXPECT_TRUE(current.load());
    EXPECT_FALSE(r.t().isCurrent());
    if (geteuid() == 0) {
        EXPECT_EQ(nice.load(), -10);
    }

    // Lowered back to normal: a new thread does not keep its creator's level.
    r.t().setPriority(WThread::PRIORITY_NORMAL);
    ASSERT_TRUE(r.start());
    ASSERT_TRUE(r.t().join(5000));
    EXPECT_EQ(nice.load(), 0);
}

TEST(ThreadTest, PriorityOfARunningThreadChanges)
{
    WSemaphore step(0), done(0);
    std::atomic<int> nice {100};
    RunBody r([&] {
        step.wait(0);
        nice = getpriority(PRIO_PROCESS, (id_t)gettid());
        done.signal();
    });
    ASSERT_TRUE(r.start());
    EXPECT_NO_THROW(r.t().setPriority(WThread::PRIORITY_LOWEST));
    step.signal();
    ASSERT_TRUE(done.wait(5000));
    EXPECT_EQ(nice.load(), 10);
    // A level the system does not know is refused.
    ASSERT_TRUE(r.t().join(5000));
    ASSERT_TRUE(r.start());
    try {
        r.t().setPriority((WThread::Priority)7);
        if (r.t().isActive()) ADD_FAILURE() << "an unknown level was accepted";
    } catch (WThreadException& e) {
        EXPECT_STREQ(e.getMessage(), "Cannot set the priority of thread.");
        EXPECT_EQ(e.getId(), -2);
        EXPECT_EQ(r.t().getPriority(), WThread::PRIORITY_LOWEST); // left as it was
    }
    step.signal();
    EXPECT_TRUE(r.t().join(5000));
}

TEST(ThreadTest, KillEndsAThreadWaitingOnASemaphore)
{
    WSemaphore never(0);
    std::atomic<bool> unwound {false};
    std::atomic<bool> after {false};
    RunBody r([&] {
        Unwound u {unwound};
        never.wait(0);
        after = true;
    });
    ASSERT_TRUE(r.start());
    EXPECT_FALSE(r.t().join(50));
    Stopwatch w;
    EXPECT_TRUE(r.t().kill());
    EXPECT_LT(w.ms(), (long)WThread::KILL_WAIT_MS);
    EXPECT_FALSE(r.t().isActive());
    EXPECT_TRUE(unwound.load());
    EXPECT_FALSE(after.load());
    EXPECT_EQ(r.t().getThreadId(), 0ul);
    EXPECT_EQ(r.t().getPriority(), WThread::PRIORITY_NORMAL);
    // The runable can start again after a kill.
    r.body = [] {};
    EXPECT_TRUE(r.start());
    EXPECT_TRUE(r.t().join(5000));
}

TEST(ThreadTest, KillEndsThreadsBlockedInJoinWaitAndTimedWaits)
{
    WSemaphore never(0);
    RunBody stuck([&] { never.wait(0); });
    ASSERT_TRUE(stuck.start());

    RunBody joiner([&] { stuck.t().join(WThread::INFINITE_WAIT); });
    RunBody companion;
    companion.body = [&] { companion.t().wait(0); };
    RunBody timed([&] { never.wait(60000); });
    for (RunBody* r : {&joiner, &companion, &timed}) {
        ASSERT_TRUE(r->start());
        EXPECT_FALSE(r->t().join(30));
        Stopwatch w;
        EXPECT_TRUE(r->t().kill());
        EXPECT_LT(w.ms(), (long)WThread::KILL_WAIT_MS);
        EXPECT_FALSE(r->t().isActive());
    }
    EXPECT_TRUE(stuck.t().isActive()); // killing the joiner left it alone
    EXPECT_TRUE(stuck.t().kill());
}

TEST(ThreadTest, KillEndsAThreadBlockedInAcceptAndInReceive)
{
    WServerSocket server(WIPAddress("127.0.0.1", 0), 5);
    server.create();
    std::atomic<bool> accepted {false};
    RunBody acceptor([&] {
        WSocket client;
        accepted = server.accept(client);
    });
    ASSERT_TRUE(acceptor.start());
    EXPECT_FALSE(acceptor.t().join(50));
    Stopwatch w;
    EXPECT_TRUE(acceptor.t().kill());
    EXPECT_LT(w.ms(), (long)WThread::KILL_WAIT_MS);
    EXPECT_FALSE(acceptor.t().isActive());
    EXPECT_FALSE(accepted.load());

    WServerSocket listener(WIPAddress("127.0.0.1", 0), 5);
    listener.create();
    WSocket peer(WIPAddress("127.0.0.1", listener.getPort()));
    peer.connect();
    WSocket served;
    ASSERT_TRUE(listener.accept(served));
    std::atomic<bool> lineRead {false};
    RunBody reader([&] {
        WString line;
        lineRead = served.readln(line);
    });
    ASSERT_TRUE(reader.start());
    EXPECT_FALSE(reader.t().join(50));
    EXPECT_TRUE(reader.t().kill());
    EXPECT_FALSE(reader.t().isActive());
    EXPECT_FALSE(lineRead.load());
}

TEST(ThreadTest, KillOfABusyThreadLetsGoButStaysActiveUntilRunReturns)
{
    std::atomic<bool> leave {false};
    RunBody r([&] {
        while (!leave.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ASSERT_TRUE(r.start());
    Stopwatch w;
    EXPECT_TRUE(r.t().kill());
    EXPECT_GE(w.ms(), (long)WThread::KILL_WAIT_MS - 50);
    EXPECT_TRUE(r.t().isActive());
    EXPECT_FALSE(r.start()); // no second thread on the same runable
    leave = true;
    for (int i = 0; i < 500 && r.t().isActive(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(r.t().isActive());
    EXPECT_EQ(r.activeCount(), 0);
    // A killed thread ends at its next library wait.
    WSemaphore never(0);
    std::atomic<bool> passed {false};
    leave = false;
    r.body = [&] {
        while (!leave.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        never.wait(0);
        passed = true;
    };
    ASSERT_TRUE(r.start());
    EXPECT_TRUE(r.t().kill());
    EXPECT_TRUE(r.t().isActive());
    leave = true;
    for (int i = 0; i < 500 && r.t().isActive(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(r.t().isActive());
    EXPECT_FALSE(passed.load());
}

TEST(ThreadTest, NoKillScopeTurnsAKillIntoAFailedWait)
{
    WSemaphore never(0), second(0);
    std::atomic<int> results {-1};
    std::atomic<bool> reached {false};
    RunBody r([&] {
        WThread::NoKillScope scope;
        bool first = never.wait(0);
        bool again = second.wait(10000); // fails at once: the kill stays
        reached = true;
        results = (first ? 1 : 0) + (again ? 2 : 0);
    });
    ASSERT_TRUE(r.start());
    EXPECT_FALSE(r.t().join(30));
    Stopwatch w;
    EXPECT_TRUE(r.t().kill());
    EXPECT_LT(w.ms(), (long)WThread::KILL_WAIT_MS);
    EXPECT_TRUE(reached.load());
    EXPECT_EQ(results.load(), 0);
}

TEST(ThreadTest, CompanionSemaphoreWaitsAndSignals)
{
    WSemaphore ready(0);
    std::atomic<int> timedOut {-1}, woken {-1};
    RunBody r;
    r.body = [&] {
        Stopwatch w;
        timedOut = r.t().wait(100) ? 0 : (int)w.ms();
        ready.signal();
        woken = r.t().wait(0) ? 1 : 0;
    };
    ASSERT_TRUE(r.start());
    ASSERT_TRUE(ready.wait(5000));
    EXPECT_GE(timedOut.load(), 90);
    EXPECT_LT(timedOut.load(), 2000);
    r.t().signal();
    ASSERT_TRUE(r.t().join(5000));
    EXPECT_EQ(woken.load(), 1);
}

TEST(ThreadTest, SuspendHoldsTheThreadAtItsNextWait)
{
    std::atomic<int> rounds {0};
    std::atomic<bool> leave {false};
    RunBody r;
    r.body = [&] {
        while (!leave.load()) {
            r.t().wait(1);
            rounds++;
        }
    };
    ASSERT_TRUE(r.start());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    r.t().suspend();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    int held = rounds.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_LE(rounds.load(), held + 1);
    r.t().resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_GT(rounds.load(), held + 1);
    leave = true;
    EXPECT_TRUE(r.t().join(5000));
}

TEST(ThreadTest, ThreadsRecogniseThemselvesAmongASet)
{
    constexpr int N = 4;
    RunBody pool[N];
    WSemaphore go(0);
    std::atomic<int> found[N];
    for (int i = 0; i < N; i++) {
        found[i] = -1;
        pool[i].body = [&, i] {
            go.wait(0);
            for (int j = 0; j < N; j++)
                if (pool[j].t().isCurrent()) found[i] = j;
        };
        ASSERT_TRUE(pool[i].start());
    }
    for (int i = 0; i < N; i++)
        go.signal();
    for (int i = 0; i < N; i++) {
        ASSERT_TRUE(pool[i].t().join(5000));
        EXPECT_EQ(found[i].load(), i);
        EXPECT_FALSE(pool[i].t().isCurrent());
    }
    EXPECT_EQ(WThread::currentThreadId(), (unsigned long)gettid());
}

TEST(ThreadTest, DestroyingARunableKillsItsWaitingThread)
{
    WSemaphore never(0);
    std::atomic<bool> unwound {false};
    {
        RunBody r([&] {
            Unwound u {unwound};
            never.wait(0);
        });
        ASSERT_TRUE(r.start());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(unwound.load());
}

// Long time-outs wait: they never overflow into an at-once return.
TEST(ThreadTest, JoinWithLongTimeOutsWaitsForTheEnd)
{
    const unsigned long timeouts[] = {
        0x100000000ul, // just above the 32-bit "no limit"
        1ul << 43, // beyond the clock's nanoseconds
        (1ul << 63) + 12345, // wraps to a negative count of milliseconds
        ULONG_MAX - 1,
        ULONG_MAX,
    };
    for (unsigned long timeout : timeouts) {
        SCOPED_TRACE(timeout);
        std::atomic<bool> go {false};
        RunBody r([&] {
            while (!go)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        ASSERT_TRUE(r.start());
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            go = true;
        });
        Stopwatch w;
        EXPECT_TRUE(r.t().join(timeout));
        EXPECT_GE(w.ms(), 100);
        release.join();
    }
}
