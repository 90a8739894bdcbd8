#pragma once

#include "WString.h"

#include <cstdint>

// The HTTP date form of seconds since 1970 UTC, with fixed English names:
// 'Sun, 07 Dec 2026 23:16:28 GMT'. Times before 1970 are formatted as well.
void formatHttpDate(int64_t seconds, WString& out);

// The Date header's text for now, formatted once a second per thread.
const WString& currentHttpDate();
