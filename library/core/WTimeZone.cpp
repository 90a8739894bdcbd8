#include "WTimeZone.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "internal/WCalendar.h"
#include "WDate.h"
#include "WException.h"

WTimeZone::WTimeZone() : bias(0), standardBias(0), daylightBias(0), daylightZone(false)
{
}

WTimeZone::WTimeZone(const char* zoneName, int zoneBias)
    : bias(zoneBias), name(zoneName), standardBias(0), daylightBias(0), daylightZone(false)
{
}

WTimeZone::WTimeZone(const char* zoneName, const char* daylightZoneName, int zoneBias, const Date& standardStart,
    int standardOffset, const Date& daylightStart, int daylightOffset)
    : bias(zoneBias), name(zoneName), daylightName(daylightZoneName), standardDate(standardStart),
      standardBias(standardOffset), daylightDate(daylightStart), daylightBias(daylightOffset),
      daylightZone(standardStart.month != 0)
{
}

unsigned long WTimeZone::getCurrentTimeZoneDay(
    unsigned long year, unsigned long month, unsigned long dayOfWeek, unsigned long week)
{
    if (year < (unsigned long)WCalendar::MIN_YEAR || year > (unsigned long)WCalendar::MAX_YEAR || month < 1
        || month > 12)
        throw WDateException("Invalid date/time to parse.", -1);
    if (dayOfWeek > 6 || week < 1 || week > 5) return 0;
    unsigned long days = WDate::getMaxDaysOfMonth(month, year);
    int firstWeekday = WCalendar::weekday(WCalendar::daysFromCivil((int64_t)year, (int)month, 1));
    unsigned long day = 1 + (unsigned long)(((int)dayOfWeek - firstWeekday + 7) % 7);
    if (week == 5) {
        while (day + 7 <= days)
            day += 7;
        return day;
    }
    return day + 7 * (week - 1);
}

// Wall-clock minutes (since 1970) at which daylight time begins (read on the
// standard-time clock) and standard time begins (read on the daylight clock).
bool WTimeZone::ruleMinutes(int year, long long& daylightStart, long long& standardStart) const
{
    unsigned long d = getCurrentTimeZoneDay((unsigned long)year, (unsigned long)daylightDate.month,
        (unsigned long)daylightDate.dayOfWeek, (unsigned long)daylightDate.week);
    unsigned long s = getCurrentTimeZoneDay((unsigned long)year, (unsigned long)standardDate.month,
        (unsigned long)standardDate.dayOfWeek, (unsigned long)standardDate.week);
    if (d == 0 || s == 0) return false;
    daylightStart = WCalendar::daysFromCivil(year, daylightDate.month, (int)d) * 1440 + daylightDate.hour * 60
        + daylightDate.minute;
    standardStart = WCalendar::daysFromCivil(year, standardDate.month, (int)s) * 1440 + standardDate.hour * 60
        + standardDate.minute;
    return true;
}

static bool inDaylight(long long t, long long daylightStart, long long standardStart)
{
    // Southern-hemisphere rules run daylight time across the new year.
    if (daylightStart < standardStart) return t >= daylightStart && t < standardStart;
    return t >= daylightStart || t < standardStart;
}

int WTimeZone::calcBias(int year, int month, int day, int hour, int minute, bool& isDaylight) const
{
    isDaylight = false;
    if (!daylightZone || daylightDate.month == 0) return bias + standardBias;
    long long d = 0, s = 0;
    if (!ruleMinutes(year, d, s)) return bias + standardBias;
    long long local = WCalendar::daysFromCivil(year, month, day) * 1440 + hour * 60 + minute;
    isDaylight = inDaylight(local, d, s);
    return isDaylight ? bias + daylightBias : bias + standardBias;
}

int WTimeZone::calcBiasAt(long long utcMinutes, bool& isDaylight) const
{
    isDaylight = false;
    if (!daylightZone || daylightDate.month == 0) return bias + standardBias;
    int64_t y = 0;
    int m = 0, dd = 0;
    WCalendar::civilFromDays(WCalendar::floorDiv(utcMinutes - (bias + standardBias), 1440), y, m, dd);
    if (y < WCalendar::MIN_YEAR || y > WCalendar::MAX_YEAR) return bias + standardBias;
    long long d = 0, s = 0;
    if (!ruleMinutes((int)y, d, s)) return bias + standardBias;
    // The changes as instants: daylight starts on the standard clock,
    // standard time on the daylight clock.
    long long daylightAt = d + bias + standardBias;
    long long standardAt = s + bias + daylightBias;
    isDaylight = inDaylight(utcMinutes, daylightAt, standardAt);
    return isDaylight ? bias + daylightBias : bias + standardBias;
}

// --- POSIX TZ rules --------------------------------------------------------

namespace {

bool parseName(const char*& p, std::string& out)
{
    out.clear();
    if (*p == '<') {
        const char* end = strchr(p + 1, '>');
        if (end == nullptr) return false;
        out.assign(p + 1, (size_t)(end - p - 1));
        p = end + 1;
    } else {
        while (isalpha((unsigned char)*p))
            out += *p++;
    }
    return out.size() >= 3;
}

// Zone offsets lie within a day; rule times may reach a week ahead
// (167 hours), as zone files write them.
constexpr long MAX_OFFSET_HOURS = 24;
constexpr long MAX_RULE_HOURS = 167;

// [+-]hh[:mm[:ss]] as seconds, at most maxHours hours either way; minutes
// and seconds below 60. Anything longer is refused before it can overflow.
bool parseClock(const char*& p, long& seconds, long maxHours)
{
    int sign = 1;
    if (*p == '+' || *p == '-') sign = *p++ == '-' ? -1 : 1;
    if (!isdigit((unsigned char)*p)) return false;
    long parts[3] = {0, 0, 0};
    const long limits[3] = {maxHours, 59, 59};
    for (int i = 0; i < 3; i++) {
        if (!isdigit((unsigned char)*p)) return false;
        long v = 0;
        while (isdigit((unsigned char)*p)) {
            v = v * 10 + (*p++ - '0');
            if (v > limits[i]) return false;
        }
        parts[i] = v;
        if (*p != ':') break;
        p++;
    }
    long total = parts[0] * 3600 + parts[1] * 60 + parts[2];
    if (total > maxHours * 3600) return false;
    seconds = sign * total;
    return true;
}

// Mm.w.d[/time]; day-of-year forms have no counterpart in the yearly record.
bool parseRule(const char*& p, WTimeZone::Date& date)
{
    if (*p != 'M') return false;
    p++;
    int v[3] = {0, 0, 0};
    for (int i = 0; i < 3; i++) {
        if (!isdigit((unsigned char)*p)) return false;
        while (isdigit((unsigned char)*p)) {
            v[i] = v[i] * 10 + (*p++ - '0');
            if (v[i] > 12) return false; // no field goes beyond the month
        }
        if (i < 2) {
            if (*p != '.') return false;
            p++;
        }
    }
    if (v[0] < 1 || v[0] > 12 || v[1] < 1 || v[1] > 5 || v[2] > 6) return false;
    long at = 2 * 3600;
    if (*p == '/') {
        p++;
        if (!parseClock(p, at, MAX_RULE_HOURS)) return false;
    }
    date = WTimeZone::Date(v[0], v[2], v[1], (int)(at / 3600), (int)(at % 3600 / 60));
    return true;
}

} // namespace

bool WTimeZone::fromPosixRule(const char* rule, WTimeZone& zone)
{
    if (rule == nullptr) return false;
    const char* p = rule;
    std::string stdName, dstName;
    long stdOffset = 0;
    if (!parseName(p, stdName) || !parseClock(p, stdOffset, MAX_OFFSET_HOURS)) return false;
    if (*p == '\0') {
        zone = WTimeZone(stdName.c_str(), (int)(stdOffset / 60));
        return true;
    }
    if (!parseName(p, dstName)) return false;
    long dstOffset = stdOffset - 3600;
    if (*p != ',' && *p != '\0' && !parseClock(p, dstOffset, MAX_OFFSET_HOURS)) return false;
    Date daylightStart, standardStart;
    if (*p == '\0') {
        // A daylight name without rules follows the US rules.
        daylightStart = Date(3, 0, 2, 2, 0);
        standardStart = Date(11, 0, 1, 2, 0);
    } else {
        if (*p++ != ',' || !parseRule(p, daylightStart) || *p++ != ',' || !parseRule(p, standardStart) || *p != '\0')
            return false;
    }
    zone = WTimeZone(stdName.c_str(), dstName.c_str(), (int)(stdOffset / 60), standardStart, 0, daylightStart,
        (int)((dstOffset - stdOffset) / 60));
    return true;
}

// --- Compiled zone files ---------------------------------------------------

namespace {

uint32_t be32(const unsigned char* p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

struct TzifCounts {
    uint32_t isut, isstd, leap, time, type, chars;
};

bool readCounts(const std::string& data, size_t at, TzifCounts& c)
{
    if (data.size() < at + 44 || data.compare(at, 4, "TZif") != 0) return false;
    const unsigned char* h = (const unsigned char*)data.data() + at + 20;
    c = {be32(h), be32(h + 4), be32(h + 8), be32(h + 12), be32(h + 16), be32(h + 20)};
    return c.type > 0 && c.time < 1000000 && c.type < 256 && c.chars < 65536 && c.leap < 100000;
}

size_t blockSize(const TzifCounts& c, size_t timeSize)
{
    return c.time * timeSize + c.time + c.type * 6 + c.chars + c.leap * (timeSize + 4) + c.isstd + c.isut;
}

} // namespace

bool WTimeZone::fromZoneFile(const char* path, WTimeZone& zone)
{
    FILE* f = fopen(path, "rbe");
    if (f == nullptr) return false;
    std::string data;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0 && data.size() < (1u << 20))
        data.append(buf, n);
    fclose(f);

    TzifCounts c;
    if (!readCounts(data, 0, c) || data[4] < '2') return false;
    size_t second = 44 + blockSize(c, 4);
    if (!readCounts(data, second, c)) return false;
    size_t block = second + 44;
    size_t footer = block + blockSize(c, 8);
    if (data.size() < footer + 2 || data[footer] != '\n') return false;
    size_t end = data.find('\n', footer + 1);
    if (end == std::string::npos) return false;
    std::string rule = data.substr(footer + 1, end - footer - 1);
    if (!rule.empty()) return fromPosixRule(rule.c_str(), zone);

    // No rule: the zone keeps the offset of its last transition.
    const unsigned char* d = (const unsigned char*)data.data() + block;
    size_t types = (size_t)c.time * 8;
    unsigned type = c.time > 0 ? d[types + c.time - 1] : 0;
    if (type >= c.type) return false;
    const unsigned char* info = d + types + c.time + type * 6;
    int32_t utoff = (int32_t)be32(info);
    unsigned charIndex = info[5];
    const char* names = (const char*)d + types + c.time + c.type * 6;
    std::string abbr;
    if (charIndex < c.chars) abbr.assign(names + charIndex, strnlen(names + charIndex, c.chars - charIndex));
    zone = WTimeZone(abbr.c_str(), -utoff / 60);
    return true;
}

bool WTimeZone::loadLocalZone(WTimeZone& zone)
{
    const char* tz = getenv("TZ");
    if (tz == nullptr) return fromZoneFile("/etc/localtime", zone);
    if (*tz == '\0') {
        zone = WTimeZone("UTC", 0);
        return true;
    }
    const char* value = tz[0] == ':' ? tz + 1 : tz;
    if (value[0] == '/') return fromZoneFile(value, zone);
    if (strstr(value, "..") == nullptr) {
        const char* dir = getenv("TZDIR");
        std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/usr/share/zoneinfo") + "/" + value;
        if (fromZoneFile(path.c_str(), zone)) return true;
    }
    if (tz[0] != ':' && fromPosixRule(value, zone)) return true;
    // An unknown zone name means UTC, as the C library treats it.
    zone = WTimeZone("UTC", 0);
    return true;
}
