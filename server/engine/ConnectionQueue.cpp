#include "ConnectionQueue.h"

ConnectionQueue::ConnectionQueue() : ring(64, Entry {nullptr, 0}), head(0), count(0), sleepers(0), serving(0), waking(0)
{
}

void ConnectionQueue::push(ScriptJob* job, int64_t now)
{
    bool wake;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (count == ring.size()) {
            std::vector<Entry> larger(ring.size() * 2, Entry {nullptr, 0});
            for (size_t i = 0; i < count; ++i)
                larger[i] = ring[(head + i) % ring.size()];
            ring.swap(larger);
            head = 0;
        }
        ring[(head + count) % ring.size()] = Entry {job, now};
        ++count;
        // One wake-up at a time from here; a woken worker wakes the next one
        // when more are needed, so the server thread spends little on it.
        wake = waking == 0 && sleepers > 0 && (int)count > serving;
        if (wake) ++waking;
    }
    if (wake) ready.notify_one();
}

bool ConnectionQueue::kick(int64_t now)
{
    bool wake;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (count == 0) return false;
        wake = sleepers > waking && now - ring[head].since >= KICK_MS;
        if (wake) ++waking;
    }
    if (wake) ready.notify_one();
    return true;
}

ScriptJob* ConnectionQueue::pop(const std::atomic<bool>& stop)
{
    std::unique_lock<std::mutex> guard(lock);
    if (serving > 0) --serving; // the caller is done with its previous job
    while (count == 0 && !stop.load()) {
        ++sleepers;
        ready.wait(guard);
        --sleepers;
        if (waking > 0) --waking;
    }
    if (stop.load() || count == 0) return nullptr;
    ScriptJob* job = ring[head].job;
    head = (head + 1) % ring.size();
    --count;
    ++serving;
    bool wakeNext = (int)count > serving + waking && sleepers > waking;
    if (wakeNext) ++waking;
    guard.unlock();
    if (wakeNext) ready.notify_one();
    return job;
}

void ConnectionQueue::drain(std::vector<ScriptJob*>& out)
{
    std::lock_guard<std::mutex> guard(lock);
    while (count > 0) {
        out.push_back(ring[head].job);
        head = (head + 1) % ring.size();
        --count;
    }
}

void ConnectionQueue::wakeAll()
{
    {
        std::lock_guard<std::mutex> guard(lock);
    }
    ready.notify_all();
}

size_t ConnectionQueue::size()
{
    std::lock_guard<std::mutex> guard(lock);
    return count;
}
