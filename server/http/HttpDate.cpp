#include "HttpDate.h"

#include <cstdio>
#include <ctime>

namespace {
const char* const DAY_NAMES[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const MONTH_NAMES[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
} // namespace

void formatHttpDate(int64_t seconds, WString& out)
{
    time_t t = (time_t)seconds;
    struct tm tm;
    if (!gmtime_r(&t, &tm)) {
        t = 0;
        gmtime_r(&t, &tm);
    }
    // Built by hand rather than with strftime: no locale can change a name.
    char text[96];
    // The year in 64 bits: tm_year + 1900 overflows an int for the last
    // 1900 years gmtime_r can express.
    snprintf(text, sizeof text, "%s, %.2d %s %.4lld %.2d:%.2d:%.2d GMT", DAY_NAMES[tm.tm_wday % 7], tm.tm_mday,
        MONTH_NAMES[tm.tm_mon % 12], (long long)tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    out.assign(text);
}
