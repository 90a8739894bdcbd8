#pragma once

#include <cstdint>
#include <ctime>

// A copy of a file or folder read within a short while of its last change
// may miss a second change made in the same tick of the file system's clock,
// which leaves the times as they were. Such a copy is not kept.
int64_t nanosecondsOf(const struct timespec& time);
// True once the wall clock is at least settleNs past lastChangeNs.
bool changeHasSettled(int64_t lastChangeNs, int64_t settleNs);
