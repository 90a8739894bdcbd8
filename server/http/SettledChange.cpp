#include "SettledChange.h"

int64_t nanosecondsOf(const struct timespec& time)
{
    return (int64_t)time.tv_sec * 1000000000 + time.tv_nsec;
}

bool changeHasSettled(int64_t lastChangeNs, int64_t settleNs)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return nanosecondsOf(now) - lastChangeNs >= settleNs;
}
