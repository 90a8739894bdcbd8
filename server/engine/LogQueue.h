#pragma once

#include <memory>
#include <string>
#include <thread>

#include "ZorvaneControl.h"

// Stands between the server's threads and the front-end's control so that a
// log output that does not keep up (a full pipe nobody reads, a stopped
// terminal) never holds up a request. Log lines and exceptions are queued
// (a bounded queue) and one writer thread of its own hands them to the
// front-end in order; when the queue is full a line is dropped and counted,
// and the count is reported in one line before the next line that gets
// through (or once the queue ran empty). Malformed requests (the 400s), and
// the error lines of requests (see requestLog), are logged a few per second
// each; the rest are counted per second (LineBudget).
//
// Until open() and after close() every call goes straight to the front-end,
// except when close() had to leave the writer blocked in the front-end: the
// output is stuck then, and lines are dropped rather than block their caller.
class LogQueue : public ZorvaneControl {
public:
    static constexpr size_t MAX_LINES = 4096;
    // Raw header blocks can be large: the queue holds at most this much text.
    static constexpr size_t MAX_BYTES = 8u << 20;
    // How long onStarted and onStopped wait for the lines queued before them,
    // and close() for the queue to empty.
    static constexpr unsigned long FLUSH_WAIT_MS = 1000;

    explicit LogQueue(ZorvaneControl* target);
    ~LogQueue() override;

    // The front-end's control it hands the lines to.
    ZorvaneControl* getTarget() const { return target; }

    // Starts the writer thread; nothing when it runs already.
    void open();
    // Hands over what is queued (waiting up to waitMs) and ends the writer
    // thread. A writer still blocked in the front-end then is left behind.
    void close(unsigned long waitMs = FLUSH_WAIT_MS);

    // Waits (bounded) until the lines queued so far were handed over.
    void awaitEarlierLines();

    void start() override;
    void stop() override;
    void restart() override;
    void onStarted() override;
    void onStopped() override;
    void onException(const WException& e) override;
    void log(const char* message, int level) override;
    bool isLogShown(int level) const override;
    void command(int code) override;
    void onRequestFinished() override;

    // What serves requests logs through this: its errors (level -1 lines and
    // exceptions) come once per request, so they are held to a few a second.
    // The server's own lines (start, stop, shortages) use this queue itself.
    ZorvaneControl* requestLog() { return &requests; }
    // How many request error lines a queue opened from now on logs per
    // second (tests that look for each line raise it); 0: the default.
    static void setRequestErrorsPerSecond(unsigned long perSecond);

    // The line that reports dropped lines, and those that report malformed
    // requests and request error lines held back.
    static std::string droppedLine(unsigned long count);
    static std::string heldBackLine(unsigned long count);
    static std::string heldBackErrorLine(unsigned long count);

private:
    struct Shared;
    struct Entry;
    enum class Budget { Malformed, RequestErrors };

    class RequestLog : public ZorvaneControl {
    public:
        explicit RequestLog(LogQueue& owner) : queue(owner) { }
        void start() override { queue.start(); }
        void stop() override { queue.stop(); }
        void restart() override { queue.restart(); }
        void onStarted() override { queue.onStarted(); }
        void onStopped() override { queue.onStopped(); }
        void onException(const WException& e) override;
        void log(const char* message, int level) override;
        bool isLogShown(int level) const override { return queue.isLogShown(level); }
        void command(int code) override { queue.command(code); }
        void onRequestFinished() override { queue.onRequestFinished(); }

    private:
        LogQueue& queue;
    };

    // False when budget holds the line back (it is counted then).
    bool admit(Budget budget);

    // Queues entry, or drops it; true when it should go straight to the
    // front-end instead.
    bool submit(Entry&& entry);
    static void write(std::shared_ptr<Shared> state);

    ZorvaneControl* const target;
    // The writer's state: held by the writer thread too, so that a writer
    // left behind by close() outlives this object safely.
    std::shared_ptr<Shared> shared;
    std::thread writer;
    RequestLog requests {*this};
};
