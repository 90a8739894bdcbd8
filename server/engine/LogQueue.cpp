#include "LogQueue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

#include "ClientConnection.h"
#include "HTTPRequest.h"
#include "LineBudget.h"
#include "WException.h"

namespace {

std::string countedLine(unsigned long count, const char* one, const char* many)
{
    char text[160];
    std::snprintf(text, sizeof text, count == 1 ? one : many, count);
    return text;
}

std::atomic<unsigned long> g_requestErrorsPerSecond {0};

} // namespace

struct LogQueue::Entry {
    enum class Kind { Line, Exception, Dropped, HeldBack };

    Kind kind = Kind::Line;
    int level = 0;
    std::string text;
    // A copy that words toString() exactly as the original does.
    std::unique_ptr<WException> exception;
    unsigned long count = 0; // Dropped, HeldBack
    Budget budget = Budget::Malformed; // HeldBack
    uint64_t number = 0; // its place in the queue's order

    static Entry line(const char* message, int lineLevel)
    {
        Entry e;
        e.level = lineLevel;
        e.text = message != nullptr ? message : "";
        return e;
    }
    static Entry error(const WException& original)
    {
        Entry e;
        e.kind = Kind::Exception;
        e.exception = std::make_unique<WException>();
        // Assignment, unlike the copy constructor, keeps the system error code.
        *e.exception = original;
        return e;
    }
    static Entry counted(Kind what, unsigned long n, Budget held = Budget::Malformed)
    {
        Entry e;
        e.kind = what;
        e.count = n;
        e.budget = held;
        return e;
    }
    size_t bytes() const { return text.size() + (exception ? exception->getMessage().length() : 0); }
};

struct LogQueue::Shared {
    enum class Mode {
        Direct, // no writer: calls go straight to the front-end
        Queued, // the writer hands the lines over
        Stuck, // close() left the writer blocked in the front-end: lines are dropped
    };

    explicit Shared(ZorvaneControl* control) : target(control) { }

    // A fresh count for each opening, with the allowance set now.
    void resetBudgets()
    {
        unsigned long errors = g_requestErrorsPerSecond.load();
        budgets[(int)Budget::Malformed] = LineBudget();
        budgets[(int)Budget::RequestErrors] = LineBudget(errors != 0 ? errors : LineBudget::PER_SECOND);
    }

    enum class Room {
        Bounded, // dropped when the queue is full
        Always, // a count, at most one a second: never lost
    };

    // Takes entry into the queue, or drops and counts it when the queue is
    // full. The lock is held.
    void enqueue(Entry&& entry, Room room = Room::Bounded)
    {
        size_t needed = dropped > 0 ? 2 : 1;
        if (room == Room::Bounded && (queue.size() + needed > MAX_LINES || bytes + entry.bytes() > MAX_BYTES)) {
            ++dropped;
            return;
        }
        bool wake = queue.empty();
        if (dropped > 0) {
            // The lost lines came after everything queued so far: say so here.
            Entry notice = Entry::counted(Entry::Kind::Dropped, dropped);
            notice.number = ++submitted;
            queue.push_back(std::move(notice));
            dropped = 0;
        }
        entry.number = ++submitted;
        bytes += entry.bytes();
        queue.push_back(std::move(entry));
        if (wake) work.notify_one();
    }

    ZorvaneControl* const target;
    std::mutex lock;
    std::condition_variable work; // the writer waits for lines
    std::condition_variable progress; // lines handed over, the writer ended
    Mode mode = Mode::Direct;
    bool closing = false;
    bool writerDone = true;
    std::deque<Entry> queue;
    size_t bytes = 0;
    unsigned long dropped = 0;
    uint64_t submitted = 0; // the number of the last entry queued
    uint64_t handedOver = 0; // the number of the last entry handed over
    LineBudget budgets[2]; // by Budget

    LineBudget& budget(Budget which) { return budgets[(int)which]; }
    // The budget whose held-back count is due first, if any.
    std::optional<std::pair<Budget, int64_t>> nextReport() const
    {
        std::optional<std::pair<Budget, int64_t>> next;
        for (Budget which : {Budget::Malformed, Budget::RequestErrors}) {
            std::optional<int64_t> due = budgets[(int)which].reportDueAt();
            if (due && (!next || *due < next->second)) next = std::make_pair(which, *due);
        }
        return next;
    }
};

LogQueue::LogQueue(ZorvaneControl* control) : target(control), shared(std::make_shared<Shared>(control))
{
}

LogQueue::~LogQueue()
{
    close();
}

void LogQueue::setRequestErrorsPerSecond(unsigned long perSecond)
{
    g_requestErrorsPerSecond = perSecond;
}

std::string LogQueue::droppedLine(unsigned long count)
{
    return countedLine(count, "%lu log line was dropped: the log output did not keep up.",
        "%lu log lines were dropped: the log output did not keep up.");
}

std::string LogQueue::heldBackLine(unsigned long count)
{
    return countedLine(count, "%lu more malformed request in the last second was not logged.",
        "%lu more malformed requests in the last second were not logged.");
}

std::string LogQueue::heldBackErrorLine(unsigned long count)
{
    return countedLine(count, "%lu more request error line in the last second was not logged.",
        "%lu more request error lines in the last second were not logged.");
}

void LogQueue::open()
{
    Shared& s = *shared;
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.mode == Shared::Mode::Queued || !s.writerDone) return;
    s.mode = Shared::Mode::Queued;
    s.closing = false;
    s.writerDone = false;
    s.resetBudgets();
    writer = std::thread(write, shared);
}

void LogQueue::close(unsigned long waitMs)
{
    Shared& s = *shared;
    bool ended;
    {
        std::unique_lock<std::mutex> guard(s.lock);
        if (s.mode != Shared::Mode::Queued || s.closing) return;
        s.closing = true;
        s.work.notify_one();
        ended = s.progress.wait_for(guard, std::chrono::milliseconds(waitMs), [&s] { return s.writerDone; });
        if (!ended) {
            // Blocked in the front-end: it stops at its next look at the mode.
            s.mode = Shared::Mode::Stuck;
        }
    }
    if (ended)
        writer.join();
    else
        writer.detach();
}

bool LogQueue::submit(Entry&& entry)
{
    Shared& s = *shared;
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.mode == Shared::Mode::Direct) return true;
    if (s.mode == Shared::Mode::Queued) s.enqueue(std::move(entry));
    return false;
}

void LogQueue::log(const char* message, int level)
{
    // A line the front-end would not show takes no room in the queue.
    if (!target->isLogShown(level)) return;
    if (submit(Entry::line(message, level))) target->log(message, level);
}

bool LogQueue::admit(Budget which)
{
    Shared& s = *shared;
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.mode != Shared::Mode::Queued) return true;
    LineBudget& budget = s.budget(which);
    bool heldBefore = budget.reportDueAt().has_value();
    LineBudget::Verdict verdict = budget.admit(ClientConnection::monotonicMs());
    if (verdict.heldBack > 0)
        s.enqueue(Entry::counted(Entry::Kind::HeldBack, verdict.heldBack, which), Shared::Room::Always);
    // The writer reports this second's count when it is over.
    if (!verdict.log && !heldBefore) s.work.notify_one();
    return verdict.log;
}

void LogQueue::onException(const WException& e)
{
    if (dynamic_cast<const HTTPHeaderException*>(&e) != nullptr && !admit(Budget::Malformed)) return;
    if (submit(Entry::error(e))) target->onException(e);
}

void LogQueue::RequestLog::onException(const WException& e)
{
    if (dynamic_cast<const HTTPHeaderException*>(&e) == nullptr && !queue.admit(Budget::RequestErrors)) return;
    queue.onException(e);
}

void LogQueue::RequestLog::log(const char* message, int level)
{
    if (level == -1 && queue.isLogShown(level) && !queue.admit(Budget::RequestErrors)) return;
    queue.log(message, level);
}

bool LogQueue::isLogShown(int level) const
{
    return target->isLogShown(level);
}

void LogQueue::awaitEarlierLines()
{
    Shared& s = *shared;
    std::unique_lock<std::mutex> guard(s.lock);
    uint64_t last = s.submitted;
    s.progress.wait_for(guard, std::chrono::milliseconds(FLUSH_WAIT_MS),
        [&s, last] { return s.mode != Shared::Mode::Queued || s.handedOver >= last; });
}

void LogQueue::onStarted()
{
    awaitEarlierLines();
    target->onStarted();
}

void LogQueue::onStopped()
{
    awaitEarlierLines();
    target->onStopped();
}

void LogQueue::start()
{
    target->start();
}

void LogQueue::stop()
{
    target->stop();
}

void LogQueue::restart()
{
    target->restart();
}

void LogQueue::command(int code)
{
    target->command(code);
}

void LogQueue::onRequestFinished()
{
    target->onRequestFinished();
}

namespace {

// One entry to the front-end; what it throws must not end the writer.
template <typename Call>
void handOver(Call call)
{
    try {
        call();
    } catch (WException&) {
    } catch (std::exception&) {
    }
}

} // namespace

void LogQueue::write(std::shared_ptr<Shared> state)
{
    Shared& s = *state;
    ZorvaneControl& target = *s.target;
    std::unique_lock<std::mutex> guard(s.lock);
    while (s.mode == Shared::Mode::Queued) {
        std::optional<std::pair<Budget, int64_t>> next = s.nextReport();
        std::optional<int64_t> due;
        if (next) due = next->second;
        if (due && (s.closing || ClientConnection::monotonicMs() >= *due)) {
            s.enqueue(Entry::counted(Entry::Kind::HeldBack, s.budget(next->first).takeHeldBack(*due), next->first),
                Shared::Room::Always);
            continue;
        }
        if (!s.queue.empty()) {
            Entry entry = std::move(s.queue.front());
            s.queue.pop_front();
            s.bytes -= entry.bytes();
            guard.unlock();
            handOver([&] {
                switch (entry.kind) {
                case Entry::Kind::Line: target.log(entry.text.c_str(), entry.level); break;
                case Entry::Kind::Exception: target.onException(*entry.exception); break;
                case Entry::Kind::Dropped: target.log(droppedLine(entry.count).c_str(), -1); break;
                case Entry::Kind::HeldBack:
                    target.log((entry.budget == Budget::Malformed ? heldBackLine(entry.count)
                                                                  : heldBackErrorLine(entry.count))
                                   .c_str(),
                        -1);
                    break;
                }
            });
            guard.lock();
            s.handedOver = entry.number;
            s.progress.notify_all();
            continue;
        }
        if (s.dropped > 0) {
            // Nothing came after the lost lines: the count is the last word.
            unsigned long count = s.dropped;
            s.dropped = 0;
            guard.unlock();
            handOver([&] { target.log(droppedLine(count).c_str(), -1); });
            guard.lock();
            continue;
        }
        if (s.closing) {
            s.mode = Shared::Mode::Direct;
            break;
        }
        if (due)
            s.work.wait_until(guard, std::chrono::steady_clock::time_point(std::chrono::milliseconds(*due)));
        else
            s.work.wait(guard);
    }
    // A writer that close() gave up on is through at last: the front-end is
    // called directly again, as before the queue was opened.
    if (s.mode == Shared::Mode::Stuck) s.mode = Shared::Mode::Direct;
    s.writerDone = true;
    s.progress.notify_all();
}
