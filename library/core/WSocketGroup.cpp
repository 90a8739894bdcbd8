#include "WSocketGroup.h"

#include <cerrno>
#include <chrono>

#include <poll.h>

#include "internal/WThreadControl.h"

namespace {
// A waiting library thread looks at kill requests this often.
constexpr int SLICE_MS = 100;
} // namespace

WSocketGroup::WSocketGroup() : count(0)
{
}

void WSocketGroup::add(WSocketHandle s)
{
    if (count < MAX_SOCKETS && !isEvent(s)) sockets[count++] = s;
}

void WSocketGroup::remove(WSocketHandle s)
{
    for (uint32_t i = 0; i < count; i++) {
        if (sockets[i] == s) {
            for (uint32_t j = i + 1; j < count; j++)
                sockets[j - 1] = sockets[j];
            count--;
            return;
        }
    }
}

void WSocketGroup::removeAll()
{
    count = 0;
}

bool WSocketGroup::isEvent(WSocketHandle s) const
{
    for (uint32_t i = 0; i < count; i++)
        if (sockets[i] == s) return true;
    return false;
}

int WSocketGroup::wait(int milliseconds)
{
    if (milliseconds < -1) {
        errno = EINVAL;
        return -1;
    }
    pollfd set[MAX_SOCKETS];
    for (uint32_t i = 0; i < count; i++)
        set[i] = pollfd {sockets[i], POLLIN, 0};

    bool unlimited = milliseconds == -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(unlimited ? 0 : milliseconds);
    int ready;
    for (;;) {
        if (WThreadKill::checkPoint()) {
            errno = ECANCELED;
            return -1;
        }
        int slice = SLICE_MS;
        if (!unlimited) {
            auto left
                = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                      .count();
            if (left < slice) slice = left > 0 ? (int)left : 0;
        }
        ready = ::poll(set, count, slice);
        if (ready < 0 && errno == EINTR) continue;
        if (ready != 0 || (!unlimited && std::chrono::steady_clock::now() >= deadline)) break;
    }
    if (ready < 0) return -1;
    for (uint32_t i = 0; i < count; i++) {
        if (set[i].revents & POLLNVAL) {
            errno = EBADF; // as select: a bad member fails the whole wait
            return -1;
        }
    }
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; i++)
        if (set[i].revents != 0) sockets[kept++] = sockets[i];
    count = kept;
    return ready;
}
