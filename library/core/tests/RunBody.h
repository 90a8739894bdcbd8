#pragma once

// Test helper: a WRunable whose run() is a lambda, and a stopwatch.

#include <chrono>
#include <functional>
#include <utility>

#include "WThread.h"

class RunBody : public WRunable {
public:
    RunBody() = default;
    explicit RunBody(std::function<void()> f) : body(std::move(f)) { }
    ~RunBody() override
    {
        // The body must not outlive the lambda it runs.
        if (thread.isActive()) thread.kill();
        thread.join(5000);
    }

    void run() override
    {
        if (body) body();
    }

    bool start() { return thread.start(this); }
    WThread& t() { return thread; }
    int activeCount() const { return active.load(); }
    bool wasStarted() const { return started; }

    std::function<void()> body;
};

class Stopwatch {
public:
    Stopwatch() : begin(std::chrono::steady_clock::now()) { }
    long ms() const
    {
        return (long)std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin)
            .count();
    }

private:
    std::chrono::steady_clock::time_point begin;
};
