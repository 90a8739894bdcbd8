#include "ConnectionQueue.h"

ConnectionQueue::ConnectionQueue() : ring(64, Entry {nullptr, 0}), head(0), count(0), sleepers(0), serving(0), waking(0)
{
}

void ConnectionQueue::push(PendingConnection* connection, int64_t now)
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
        ring[(head + count) % ring.size()] = Entry {connection, now};
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

PendingConnection* ConnectionQueue::pop(const std::atomic<bool>& stop)
{
    std::unique_lock<std::mutex> guard(lock);
    if (serving > 0) --serving; // the caller is done with its previous connection
    while (count == 0 && !stop.load()) {
        ++sleepers;
        ready.wait(guard);
        --sleepers;
        if (waking > 0) --waking;
    }
    if (stop.load() || count == 0) return nullptr;
    PendingConnection* connection = ring[head].connection;
    head = (head + 1) % ring.size();
    --count;
    ++serving;
    bool wakeNext = (int)count > serving + waking && sleepers > waking;
    if (wakeNext) ++waking;
    guard.unlock();
    if (wakeNext) ready.notify_one();
    return connection;
}

void ConnectionQueue::drain(std::vector<PendingConnection*>& out)
{
    std::lock_guard<std::mutex> guard(lock);
    while (count > 0) {
        out.push_back(ring[head].connection);
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
