// The crash guard on its own: real faults on real threads.

#include "CrashGuard.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <thread>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace {

volatile int zero = 0;
int* volatile badPointer = reinterpret_cast<int*>(0x10);

__attribute__((noinline)) int recurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    // Deep enough for any stack this machine gives a thread.
    if (depth > 100000000) return 0;
    return recurse(depth + 1) + frame[0];
}

enum class Fault { None, Access, Divide, Overflow };

// Real faults on purpose: the undefined-behaviour sanitizer must not stop them first.
__attribute__((noinline, no_sanitize("undefined"))) void cause(Fault fault)
{
    switch (fault) {
    case Fault::None:
        break;
    case Fault::Access:
        *badPointer = 1;
        break;
    case Fault::Divide:
        zero = 10 / zero;
        break;
    case Fault::Overflow:
        zero = recurse(0);
        break;
    }
}

// Runs cause(fault) inside a guard; returns the crash text, or "" when
// nothing happened.
std::string guarded(Fault fault)
{
    EXPECT_TRUE(prepareCrashGuard());
    static thread_local CrashGuard guard;
    if (sigsetjmp(guard.jump, 1) == 0) {
        enterCrashGuard(&guard);
        cause(fault);
        leaveCrashGuard(&guard);
        return "";
    }
    char text[1024];
    unsigned n = formatCrashText(guard, text, sizeof text);
    return std::string(text, n);
}

std::string onThread(Fault fault)
{
    std::string result;
    std::thread([&] { result = guarded(fault); }).join();
    return result;
}

} // namespace

TEST(CrashGuard, FaultsBecomeTheirTexts)
{
    EXPECT_EQ("", guarded(Fault::None));
    EXPECT_EQ("PHP has encountered an Access Violation at 0x10", guarded(Fault::Access));
    std::string divide = guarded(Fault::Divide);
    EXPECT_EQ(0u, divide.find("PHP has encountered an Unhandled Exception Code " + std::to_string(SIGFPE) + " at 0x"))
        << divide;
    // The guard is re-armed after each catch.
    EXPECT_EQ("PHP has encountered an Access Violation at 0x10", guarded(Fault::Access));
}

TEST(CrashGuard, StackOverflowIsCaughtAgainAndAgainOnOneThread)
{
    std::thread([] {
        for (int i = 0; i < 3; i++)
            EXPECT_EQ("PHP has encountered a Stack overflow", guarded(Fault::Overflow)) << i;
        EXPECT_EQ("", guarded(Fault::None));
    }).join();
    // A fresh thread gets its own alternate stack.
    EXPECT_EQ("PHP has encountered a Stack overflow", onThread(Fault::Overflow));
    EXPECT_EQ("PHP has encountered a Stack overflow", guarded(Fault::Overflow));
}

TEST(CrashGuard, InnerGuardCatchesAndOuterStaysArmed)
{
    ASSERT_TRUE(prepareCrashGuard());
    CrashGuard outer;
    volatile int stage = 0;
    if (sigsetjmp(outer.jump, 1) == 0) {
        enterCrashGuard(&outer);
        CrashGuard inner;
        if (sigsetjmp(inner.jump, 1) == 0) {
            enterCrashGuard(&inner);
            cause(Fault::Access);
        } else {
            stage = 1;
        }
        EXPECT_EQ(&outer, currentCrashGuard());
        cause(Fault::Divide);
        stage = 99;
    } else {
        EXPECT_EQ(1, stage);
        EXPECT_EQ(SIGFPE, outer.signal);
        stage = 2;
    }
    EXPECT_EQ(2, stage);
    EXPECT_EQ(nullptr, currentCrashGuard());
}

TEST(CrashGuardDeathTest, FaultOutsideAGuardEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            prepareCrashGuard();
            cause(Fault::Access);
        },
        ::testing::KilledBySignal(SIGSEGV), "");
}

namespace {

enum class Sender { Kill, ThreadKill, Queue };

void send(Sender sender, int sig)
{
    switch (sender) {
    case Sender::Kill:
        kill(getpid(), sig);
        break;
    case Sender::ThreadKill:
        pthread_kill(pthread_self(), sig);
        break;
    case Sender::Queue: {
        union sigval value = {};
        sigqueue(getpid(), sig, value);
        break;
    }
    }
}

} // namespace

// One sent signal outside a guard and one inside: neither jumps, and a real
// fault afterwards is still caught.
__attribute__((noinline)) bool sentSignalIsIgnored(Sender sender, int sig)
{
    prepareCrashGuard();
    send(sender, sig);
    static thread_local CrashGuard guard;
    if (sigsetjmp(guard.jump, 1) == 0) {
        enterCrashGuard(&guard);
        send(sender, sig);
        leaveCrashGuard(&guard);
    } else {
        return false;
    }
    return guarded(Fault::Access) == "PHP has encountered an Access Violation at 0x10";
}

// kill -SEGV from outside is no fault: it neither jumps out of a guard nor
// leaves the process without its handler for the next real fault.
TEST(CrashGuardDeathTest, SentSignalsLeaveTheGuardArmed)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            int failures = 0;
            for (Sender sender : {Sender::Kill, Sender::ThreadKill, Sender::Queue})
                for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL})
                    if (!sentSignalIsIgnored(sender, sig)) failures++;
            std::thread([] { kill(getpid(), SIGSEGV); }).join();
            if (onThread(Fault::Overflow) != "PHP has encountered a Stack overflow") failures++;
            exit(failures);
        },
        ::testing::ExitedWithCode(0), "");
}
