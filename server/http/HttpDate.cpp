#include "HttpDate.h"

#include <cstdio>
#include <cstring>
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
    long long year = (long long)tm.tm_year + 1900;
    if (year >= 0 && year <= 9999) {
        // The common case without the formatter: this runs for every file sent.
        char text[30];
        auto two = [](char* at, int v) {
            at[0] = (char)('0' + v / 10 % 10);
            at[1] = (char)('0' + v % 10);
        };
        memcpy(text, DAY_NAMES[tm.tm_wday % 7], 3);
        text[3] = ',';
        text[4] = ' ';
        two(text + 5, tm.tm_mday);
        text[7] = ' ';
        memcpy(text + 8, MONTH_NAMES[tm.tm_mon % 12], 3);
        text[11] = ' ';
        two(text + 12, (int)(year / 100));
        two(text + 14, (int)(year % 100));
        text[16] = ' ';
        two(text + 17, tm.tm_hour);
        text[19] = ':';
        two(text + 20, tm.tm_min);
        text[22] = ':';
        two(text + 23, tm.tm_sec);
        memcpy(text + 25, " GMT", 5);
        out.assign(text, 29);
        return;
    }
    char text[96];
    // The year in 64 bits: tm_year + 1900 overflows an int for the last
    // 1900 years gmtime_r can express.
    snprintf(text, sizeof text, "%s, %.2d %s %.4lld %.2d:%.2d:%.2d GMT", DAY_NAMES[tm.tm_wday % 7], tm.tm_mday,
        MONTH_NAMES[tm.tm_mon % 12], (long long)tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    out.assign(text);
}

const WString& currentHttpDate()
{
    thread_local time_t shown = -1;
    thread_local WString text;
    time_t now = time(nullptr);
    if (now != shown) {
        formatHttpDate((int64_t)now, text);
        shown = now;
    }
    return text;
}
