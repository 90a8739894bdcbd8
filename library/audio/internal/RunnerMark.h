#pragma once

#include <atomic>
#include <thread>

// Marks the calling thread as the one running an object's run() for as long
// as the mark lives, however run() is left.
class RunnerMark {
public:
    explicit RunnerMark(std::atomic<std::thread::id>& r) : runner(r) { runner = std::this_thread::get_id(); }
    ~RunnerMark() { runner = std::thread::id(); }
    RunnerMark(const RunnerMark&) = delete;
    RunnerMark& operator=(const RunnerMark&) = delete;

private:
    std::atomic<std::thread::id>& runner;
};
