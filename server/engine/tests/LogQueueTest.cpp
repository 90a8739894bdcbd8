// The log queue between the server's threads and the front-end: callers never
// wait for a blocked output, lost lines are counted and reported, order is
// kept, and malformed requests are logged a few per second.
#include "HTTPRequest.h"
#include "LineBudget.h"
#include "LogQueue.h"
#include "ServerTestSupport.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <optional>

namespace {

using servertest::RecordingControl;
using servertest::waitUntil;
using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A front-end whose log blocks (a pipe nobody reads) until released.
class GatedControl : public RecordingControl {
public:
    void log(const char* message, int level) override
    {
        {
            std::unique_lock<std::mutex> guard(gate);
            ++entered;
            opened.wait(guard, [this] { return released; });
        }
        RecordingControl::log(message, level);
    }
    void release()
    {
        std::lock_guard<std::mutex> guard(gate);
        released = true;
        opened.notify_all();
    }

    std::atomic<int> entered {0};

private:
    std::mutex gate;
    std::condition_variable opened;
    bool released = false;
};

// The count of a line as droppedLine words it, or nothing.
std::optional<unsigned long> droppedCount(const std::string& line)
{
    unsigned long n = 0;
    if (std::sscanf(line.c_str(), "%lu", &n) != 1 || line != LogQueue::droppedLine(n)) return std::nullopt;
    return n;
}

TEST(LineBudgetTest, AFewLinesPerSecondAndOneCountForTheRest)
{
    enum class Call { Admit, Look };
    struct Step {
        int64_t at;
        Call call;
        unsigned long reported; // heldBack of admit, or what takeHeldBack hands out
        bool logged;
        int64_t dueAt; // reportDueAt afterwards; -1: none
    };
    const Step steps[] = {
        {0, Call::Admit, 0, true, -1},
        {10, Call::Admit, 0, true, -1},
        {20, Call::Admit, 0, true, -1},
        {30, Call::Admit, 0, true, -1},
        {40, Call::Admit, 0, true, -1},
        {50, Call::Admit, 0, false, 1000}, // the sixth in the second is held back
        {60, Call::Admit, 0, false, 1000},
        {999, Call::Look, 0, false, 1000}, // the second lasts
        {1000, Call::Look, 2, false, -1}, // over: reported once
        {1001, Call::Look, 0, false, -1},
        {1500, Call::Admit, 0, true, -1}, // a new second starts with the next line
        {1501, Call::Admit, 0, true, -1},
        {1502, Call::Admit, 0, true, -1},
        {1503, Call::Admit, 0, true, -1},
        {1504, Call::Admit, 0, true, -1},
        {1505, Call::Admit, 0, false, 2500},
        {2499, Call::Admit, 0, false, 2500},
        {2500, Call::Admit, 2, true, -1}, // nobody looked: the count comes with the next line
        {9000, Call::Admit, 0, true, -1}, // nothing held back, nothing to say
        {9000, Call::Look, 0, false, -1},
    };
    LineBudget budget;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.at);
        if (step.call == Call::Admit) {
            LineBudget::Verdict verdict = budget.admit(step.at);
            EXPECT_EQ(step.reported, verdict.heldBack);
            EXPECT_EQ(step.logged, verdict.log);
        } else {
            EXPECT_EQ(step.reported, budget.takeHeldBack(step.at));
        }
        EXPECT_EQ(step.dueAt, budget.reportDueAt().value_or(-1));
    }
}

TEST(LogQueueTest, CallersNeverWaitForABlockedOutput)
{
    constexpr int THREADS = 4;
    constexpr int PER_THREAD = 2500;
    GatedControl target;
    LogQueue queue(&target);
    queue.open();

    std::atomic<int> callersDone {0};
    std::vector<std::thread> callers;
    Clock::time_point began = Clock::now();
    for (int t = 0; t < THREADS; ++t) {
        callers.emplace_back([&queue, &callersDone, t] {
            for (int n = 0; n < PER_THREAD; ++n)
                queue.log(("t" + std::to_string(t) + " " + std::to_string(n)).c_str(), 1);
            ++callersDone;
        });
    }
    bool returned = waitUntil([&] { return callersDone == THREADS; }, 3000);
    long long callMs = msSince(began);
    EXPECT_TRUE(returned) << "the log calls waited for the blocked output";
    EXPECT_TRUE(waitUntil([&] { return target.entered > 0; }));

    // A start waits for the lines before it, but not for ever.
    began = Clock::now();
    queue.onStarted();
    long long startedMs = msSince(began);
    EXPECT_EQ(1, target.started.load());
    EXPECT_GE(startedMs, (long long)LogQueue::FLUSH_WAIT_MS - 50);
    EXPECT_LT(startedMs, (long long)LogQueue::FLUSH_WAIT_MS + 2000);

    target.release();
    for (std::thread& caller : callers)
        caller.join();
    EXPECT_TRUE(target.waitFor(-1, "log lines were dropped"));
    queue.close();
    std::printf("log calls returned after %lld ms, the start after %lld ms\n", callMs, startedMs);

    std::vector<RecordingControl::Line> lines = target.snapshot();
    ASSERT_FALSE(lines.empty());
    // Nothing came after the lost lines, so their count is the last line.
    EXPECT_TRUE(droppedCount(lines.back().text).has_value()) << lines.back().text;
    unsigned long delivered = 0;
    unsigned long dropped = 0;
    int next[THREADS] = {};
    for (const RecordingControl::Line& line : lines) {
        if (line.level == -1) {
            std::optional<unsigned long> n = droppedCount(line.text);
            ASSERT_TRUE(n.has_value()) << line.text;
            dropped += *n;
            continue;
        }
        int t = -1;
        int n = -1;
        ASSERT_EQ(2, std::sscanf(line.text.c_str(), "t%d %d", &t, &n)) << line.text;
        ASSERT_TRUE(t >= 0 && t < THREADS);
        EXPECT_GE(n, next[t]) << "out of order: " << line.text;
        next[t] = n + 1;
        ++delivered;
    }
    EXPECT_EQ((unsigned long)(THREADS * PER_THREAD), delivered + dropped);
    EXPECT_GE(delivered, LogQueue::MAX_LINES - 1);
    EXPECT_LE(delivered, LogQueue::MAX_LINES + 1);
}

// Takes its time over each line and notes the start among the lines.
class SlowControl : public RecordingControl {
public:
    void log(const char* message, int level) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        RecordingControl::log(message, level);
    }
    void onStarted() override { RecordingControl::log("(started)", 0); }
    void onStopped() override { RecordingControl::log("(stopped)", 0); }
};

TEST(LogQueueTest, StartedAndStoppedComeAfterTheLinesBeforeThem)
{
    SlowControl target;
    LogQueue queue(&target);
    queue.open();
    for (int n = 0; n < 5; ++n)
        queue.log(("before " + std::to_string(n)).c_str(), 1);
    queue.onStarted();
    queue.log("between", 1);
    queue.onStopped();
    std::vector<std::string> order;
    for (const RecordingControl::Line& line : target.snapshot())
        order.push_back(line.text);
    EXPECT_EQ((std::vector<std::string> {"before 0", "before 1", "before 2", "before 3", "before 4", "(started)",
                  "between", "(stopped)"}),
        order);
    queue.close();
}

TEST(LogQueueTest, MalformedRequestsAreLoggedAFewPerSecond)
{
    constexpr int MALFORMED = 20;
    RecordingControl target;
    LogQueue queue(&target);
    queue.open();
    errno = ECONNRESET;
    WSocketException other("Cannot read from socket.", -6);
    Clock::time_point began = Clock::now();
    for (int n = 0; n < MALFORMED; ++n)
        queue.onException(HTTPHeaderException("Invalid request line."));
    queue.onException(other);

    // The count comes when the second is over, with no further request.
    ASSERT_TRUE(target.waitFor(-1, "more malformed request", 5000));
    long long reportedMs = msSince(began);
    queue.close();
    std::printf("held-back count after %lld ms\n", reportedMs);
    EXPECT_GE(reportedMs, LineBudget::SECOND_MS - 50);

    std::vector<std::string> texts = target.exceptionTexts();
    const std::string malformed = HTTPHeaderException("Invalid request line.").toString().getBuf();
    int logged = 0;
    for (const std::string& text : texts) {
        if (text == malformed) ++logged;
    }
    unsigned long heldBack = 0;
    for (const std::string& line : target.linesAt(-1)) {
        unsigned long n = 0;
        ASSERT_EQ(1, std::sscanf(line.c_str(), "%lu", &n)) << line;
        EXPECT_EQ(LogQueue::heldBackLine(n), line);
        heldBack += n;
    }
    EXPECT_GE(logged, (int)LineBudget::PER_SECOND);
    EXPECT_EQ((unsigned long)MALFORMED, logged + heldBack);
    // Other errors all pass, worded as the front-end words the original.
    EXPECT_EQ(1, (int)std::count(texts.begin(), texts.end(), std::string(other.toString().getBuf())));
}

TEST(LogQueueTest, CloseDoesNotWaitForAnOutputThatNeverTakesItsLine)
{
    // The writer left blocked in it must find it still there when released.
    static GatedControl* const target = new GatedControl;
    Clock::time_point began;
    {
        LogQueue queue(target);
        queue.open();
        queue.log("held", 1);
        ASSERT_TRUE(waitUntil([] { return target->entered > 0; }));
        began = Clock::now();
        queue.close(100);
        queue.log("after the close", 1);
    }
    long long closeMs = msSince(began);
    EXPECT_LT(closeMs, 100 + 1500);
    target->release();
    EXPECT_TRUE(target->waitFor(1, "held"));
    EXPECT_FALSE(target->has(1, "after the close"));
}

} // namespace
