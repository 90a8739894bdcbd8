#pragma once

#include <cstdint>

// Proleptic Gregorian calendar arithmetic on day numbers (days since
// 1 January 1970), shared by the date and time-zone code.
namespace WCalendar {

constexpr int64_t SECONDS_1601_TO_1970 = 11644473600LL;
constexpr int64_t TICKS_PER_SECOND = 10000000LL;
constexpr int MIN_YEAR = 1601;
constexpr int MAX_YEAR = 30827;

constexpr int64_t floorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

constexpr int64_t daysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = floorDiv(y, 400);
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

constexpr void civilFromDays(int64_t z, int64_t& y, int& m, int& d)
{
    z += 719468;
    const int64_t era = floorDiv(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = (int)(doy - (153 * mp + 2) / 5 + 1);
    m = (int)(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

// 0 = Sunday ... 6 = Saturday (1 January 1970 was a Thursday).
constexpr int weekday(int64_t days)
{
    return (int)(((days % 7) + 11) % 7);
}

} // namespace WCalendar
