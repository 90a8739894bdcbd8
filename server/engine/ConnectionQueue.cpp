#include "ConnectionQueue.h"

ConnectionQueue::ConnectionQueue() : ring(64, nullptr), head(0), count(0), sleepers(0) {}

void ConnectionQueue::push(PendingConnection* connection)
{
    bool wake;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (count == ring.size()) {
            std::vector<PendingConnection*> larger(ring.size() * 2, nullptr);
            for (size_t i = 0; i < count; ++i)
                larger[i] = ring[(head + i) % ring.size()];
            ring.swap(larger);
            head = 0;
        }
        ring[(head + count) % ring.size()] = connection;
        ++count;
        wake = sleepers > 0;
    }
    if (wake)
        ready.notify_one();
}

PendingConnection* ConnectionQueue::pop(const std::atomic<bool>& stop)
{
    std::unique_lock<std::mutex> guard(lock);
    while (count == 0 && !stop.load()) {
        ++sleepers;
        ready.wait(guard);
        --sleepers;
    }
    if (stop.load() || count == 0)
        return nullptr;
    PendingConnection* connection = ring[head];
    head = (head + 1) % ring.size();
    --count;
    return connection;
}

void ConnectionQueue::drain(std::vector<PendingConnection*>& out)
{
    std::lock_guard<std::mutex> guard(lock);
    while (count > 0) {
        out.push_back(ring[head]);
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
