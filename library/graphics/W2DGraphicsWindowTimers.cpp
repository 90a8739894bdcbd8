// The graphics window's ten one-second countdown timers.
#include "W2DGraphicsWindow.h"

bool W2DGraphicsWindow::addTimer(unsigned long id, unsigned long seconds)
{
    Lock guard(timerLock);
    if (seconds == 0 || timerCount >= MAX_TIMERS) return false;
    for (Timer& t : timers)
        if (t.remaining == 0) {
            t.id = id;
            t.remaining = seconds;
            ++timerCount;
            return true;
        }
    return false;
}

bool W2DGraphicsWindow::getTimer(unsigned long id, unsigned long& remaining) const
{
    Lock guard(timerLock);
    for (const Timer& t : timers)
        if (t.remaining != 0 && t.id == id) {
            remaining = t.remaining;
            return true;
        }
    return false;
}

void W2DGraphicsWindow::removeTimer(unsigned long id)
{
    Lock guard(timerLock);
    for (Timer& t : timers)
        if (t.remaining != 0 && t.id == id) {
            t = Timer();
            --timerCount;
            return;
        }
}

void W2DGraphicsWindow::removeAllTimers()
{
    Lock guard(timerLock);
    timers.fill(Timer());
    timerCount = 0;
}

unsigned long W2DGraphicsWindow::getTimerCount() const
{
    Lock guard(timerLock);
    return timerCount;
}

// The slots running at the start of the tick count down; a slot that runs
// out is freed before its hook runs, so a hook that starts a timer again
// (perhaps in the same slot) keeps it.
void W2DGraphicsWindow::onWindowTimerTick()
{
    Lock guard(timerLock);
    std::array<bool, MAX_TIMERS> running {};
    for (size_t i = 0; i < MAX_TIMERS; ++i)
        running[i] = timers[i].remaining != 0;
    for (size_t i = 0; i < MAX_TIMERS; ++i) {
        if (!running[i] || timers[i].remaining == 0) continue;
        if (--timers[i].remaining != 0) continue;
        const unsigned long id = timers[i].id;
        timers[i] = Timer();
        --timerCount;
        onGraphicsWindowTimer(id);
    }
}
