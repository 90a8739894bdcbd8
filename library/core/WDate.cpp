#include "WDate.h"

#include <cstdio>
#include <ctime>

#include "internal/WCalendar.h"
#include "WException.h"
#include "WSystem.h"

using WCalendar::floorDiv;
using WCalendar::SECONDS_1601_TO_1970;
using WCalendar::TICKS_PER_SECOND;

// UTC; as an argument it means the date's own zone (compared by address).
static const WTimeZone g_timeZoneDefault;
const WTimeZone& WDate::TIME_ZONE_DEFAULT = g_timeZoneDefault;

static const char* const WEEKDAY_NAMES[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
static const char* const MONTH_NAMES[]
    = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Seconds since 1970 of the first and last second the calendar can express.
static constexpr int64_t FIRST_SECOND = WCalendar::daysFromCivil(WCalendar::MIN_YEAR, 1, 1) * 86400;
static constexpr int64_t LAST_SECOND = WCalendar::daysFromCivil(WCalendar::MAX_YEAR + 1, 1, 1) * 86400 - 1;

WDate::WDate()
{
    initialize();
    loadTime();
}

WDate::WDate(long long seconds)
{
    initialize();
    setTime(seconds);
}

void WDate::initialize()
{
    fields = Fields {1601, 1, 1, 1, 0, 0, 0, 0};
    time = 0;
    text.resize(32);
    zone = g_systemInfo.getLocalTimeZone();
    utcMinutes = 0;
    daylight = false;
}

const WTimeZone& WDate::getTimeZone(const WTimeZone& z) const
{
    return &z == &TIME_ZONE_DEFAULT ? zone : z;
}

void WDate::loadTime()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    time = (uint64_t)((int64_t)now.tv_sec + SECONDS_1601_TO_1970) * (uint64_t)TICKS_PER_SECOND
        + (uint64_t)(now.tv_nsec / 100);
    fromSystemTime(zone);
}

void WDate::setTime(long long seconds)
{
    if (seconds < FIRST_SECOND || seconds > LAST_SECOND) throw WDateException("Invalid time value to set.", -1);
    time = (uint64_t)(seconds + SECONDS_1601_TO_1970) * (uint64_t)TICKS_PER_SECOND;
    fromSystemTime(zone);
}

long long WDate::getTime() const
{
    return floorDiv((int64_t)time, TICKS_PER_SECOND) - SECONDS_1601_TO_1970;
}

void WDate::setDefaultTimeZone(const WTimeZone& z)
{
    zone = z;
}

void WDate::convert(const WTimeZone& z, Fields& out, int& offset, bool& isDaylight) const
{
    int64_t seconds = floorDiv((int64_t)time, TICKS_PER_SECOND) - SECONDS_1601_TO_1970;
    offset = z.calcBiasAt(floorDiv(seconds, 60), isDaylight);
    int64_t local = seconds - (int64_t)offset * 60;
    int64_t days = floorDiv(local, 86400);
    int64_t secondOfDay = local - days * 86400;
    int64_t year = 0;
    WCalendar::civilFromDays(days, year, out.month, out.day);
    out.year = (int)year;
    out.dayOfWeek = WCalendar::weekday(days);
    out.hour = (int)(secondOfDay / 3600);
    out.minute = (int)(secondOfDay / 60 % 60);
    out.second = (int)(secondOfDay % 60);
    out.milliseconds = (int)((int64_t)(time % (uint64_t)TICKS_PER_SECOND) / 10000);
}

void WDate::fromSystemTime(const WTimeZone& z)
{
    convert(z, fields, utcMinutes, daylight);
}

void WDate::toSystemTime(const WTimeZone& z)
{
    bool isDaylight = false;
    int offset = z.calcBias(fields.year, fields.month, fields.day, fields.hour, fields.minute, isDaylight);
    int64_t local = WCalendar::daysFromCivil(fields.year, fields.month, fields.day) * 86400 + fields.hour * 3600
        + fields.minute * 60 + fields.second;
    int64_t utc = local + (int64_t)offset * 60;
    if (utc < FIRST_SECOND || utc > LAST_SECOND) throw WDateException("Invalid date/time to parse.", -1);
    time = (uint64_t)(utc + SECONDS_1601_TO_1970) * (uint64_t)TICKS_PER_SECOND;
    utcMinutes = offset;
    daylight = isDaylight;
}

void WDate::parse(int year, int month, int day, int hour, int minute, int second, const WTimeZone& z)
{
    if (year < WCalendar::MIN_YEAR || year > WCalendar::MAX_YEAR || month < 1 || month > 12 || day < 1
        || (unsigned long)day > getMaxDaysOfMonth((unsigned long)month, (unsigned long)year) || hour < 0 || hour > 23
        || minute < 0 || minute > 59 || second < 0 || second > 59)
        throw WDateException("Invalid date/time to parse.", -1);
    Fields given {
        year, month, WCalendar::weekday(WCalendar::daysFromCivil(year, month, day)), day, hour, minute, second, 0};
    Fields previous = fields;
    fields = given;
    try {
        toSystemTime(getTimeZone(z));
    } catch (...) {
        fields = previous;
        throw;
    }
}

const WString& WDate::format(TimeFormat f, const WTimeZone& z) const
{
    Fields local;
    int offset = 0;
    bool isDaylight = false;
    if (f == TIME_FORMAT_UTC)
        convert(g_timeZoneDefault, local, offset, isDaylight);
    else
        convert(getTimeZone(z), local, offset, isDaylight);
    format(text, (int)f, local);
    return text;
}

const WString& WDate::format(const char* pattern, const WTimeZone& z) const
{
    Fields local;
    int offset = 0;
    bool isDaylight = false;
    convert(getTimeZone(z), local, offset, isDaylight);
    format(text, pattern, local);
    return text;
}

const WString& WDate::toString() const
{
    return format("%d.%m.%Y / %H:%M:%S");
}

void WDate::format(WString& out, int f, const Fields& t)
{
    char buf[64];
    if (f == TIME_FORMAT_LOG) {
        snprintf(buf, sizeof buf, "%.3s %.3s%3u %.2u:%.2u:%.2u %u", WEEKDAY_NAMES[t.dayOfWeek],
            MONTH_NAMES[t.month - 1], (unsigned)t.day, (unsigned)t.hour, (unsigned)t.minute, (unsigned)t.second,
            (unsigned)t.year);
    } else if (f == TIME_FORMAT_UTC) {
        snprintf(buf, sizeof buf, "%.4u%.2u%.2uT%.2u%.2u%.2uZ", (unsigned)t.year, (unsigned)t.month, (unsigned)t.day,
            (unsigned)t.hour, (unsigned)t.minute, (unsigned)t.second);
    } else {
        buf[0] = '\0';
    }
    out = buf;
}

void WDate::format(WString& out, const char* pattern, const Fields& t)
{
    out.clear();
    if (pattern == nullptr) return;
    char buf[32];
    // Day, month and time fields are written with two digits.
    auto twoDigits = [&buf](unsigned value) { snprintf(buf, sizeof buf, "%.2u", value); };
    for (const char* p = pattern; *p != '\0'; p++) {
        if (*p != '%') {
            out.append((int)(unsigned char)*p);
            continue;
        }
        char code = *++p;
        if (code == '\0') break;
        buf[0] = '\0';
        switch (code) {
        case '%':
            snprintf(buf, sizeof buf, "%%");
            break;
        case 'a':
        case 'A':
            snprintf(buf, sizeof buf, "%.3s", WEEKDAY_NAMES[t.dayOfWeek]);
            break;
        case 'd':
            twoDigits((unsigned)t.day);
            break;
        case 'm':
            twoDigits((unsigned)t.month);
            break;
        case 'H':
            twoDigits((unsigned)t.hour);
            break;
        case 'I':
            twoDigits((unsigned)(t.hour <= 12 ? t.hour : t.hour - 12));
            break;
        case 'M':
            twoDigits((unsigned)t.minute);
            break;
        case 'S':
            twoDigits((unsigned)t.second);
            break;
        case 'Y':
            snprintf(buf, sizeof buf, "%i", t.year);
            break;
        case 'y': {
            char year[16];
            snprintf(year, sizeof year, "%.4u", (unsigned)t.year);
            snprintf(buf, sizeof buf, "%s", year + 2);
            break;
        }
        case 'p':
            snprintf(buf, sizeof buf, "%s", t.hour < 13 ? "A.M" : "P.M");
            break;
        case 'w':
            snprintf(buf, sizeof buf, "%i", t.dayOfWeek);
            break;
        default:
            break;
        }
        out.append(buf);
    }
}

bool WDate::isLeapYear(unsigned long year)
{
    return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
}

unsigned long WDate::getMaxDaysOfMonth(unsigned long month, unsigned long year)
{
    switch (month) {
    case 2:
        return isLeapYear(year) ? 29 : 28;
    case 4:
    case 6:
    case 9:
    case 11:
        return 30;
    default:
        return month >= 1 && month <= 12 ? 31 : 0;
    }
}
