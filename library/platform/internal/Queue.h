#pragma once

// How the message functions reach the thread queues; for this library only.

#include <chrono>
#include <functional>

#include "Core.h"

namespace wplat::detail {

using Clock = std::chrono::steady_clock;

DWORD tickCount();
// True for the user-interface thread's queue while the substrate runs.
bool onUi(const std::shared_ptr<ThreadQueue>& queue);
// Wakes the thread that owns the queue (coalesced for the substrate).
void wakeQueue(const std::shared_ptr<ThreadQueue>& queue);
// Runs the calls and sent messages queued for this thread.
void serviceSent(const std::shared_ptr<ThreadQueue>& queue);
// Waits for the answer to `message`, serving what others send to this thread
// meanwhile. `giveUp` (may be empty) is asked after each quiet wait; true ends
// the wait early. True once the message was done.
bool awaitAnswer(
    const std::shared_ptr<ThreadQueue>& self, const SentMessage& message, const std::function<bool()>& giveUp = {});
// The next message without waiting: sent ones are serviced on the way.
// `wait` receives the time to the next timer (-1 without timers).
bool nextMessage(const std::shared_ptr<ThreadQueue>& queue, MSG& msg, HWND filter, bool remove, int& wait);
// Has the substrate service the queue when the next timer is due.
void scheduleTimers(const std::shared_ptr<ThreadQueue>& queue);
void waitForWork(const std::shared_ptr<ThreadQueue>& queue, int timeoutMs);

} // namespace wplat::detail
