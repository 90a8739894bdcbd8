#pragma once

#include <cstdint>

#include "WString.h"
#include "WTimeZone.h"

// A point in time (100-ns units since 1601-01-01 UTC) with its broken-down
// local fields in its own time zone. Seconds cross the interface as signed
// 64-bit counts since 1970-01-01 UTC, so dates before 1970 are negative.
class WDate {
public:
    enum TimeFormat {
        // "Sun Jan  5 08:03:09 2025", the log time stamp.
        TIME_FORMAT_LOG = 1,
        // "20250105T080309Z", always in UTC.
        TIME_FORMAT_UTC = 5,
    };

    // Stands for "the date's own zone" wherever a zone argument is taken.
    static const WTimeZone& TIME_ZONE_DEFAULT;

    WDate();
    explicit WDate(long long seconds);
    WDate(const WDate& other) = default;
    WDate& operator=(const WDate& other) = default;
    virtual ~WDate() = default;

    void loadTime();
    void setTime(long long seconds);
    long long getTime() const;
    void setDefaultTimeZone(const WTimeZone& zone);

    int getYear() const { return fields.year; }
    int getMonth() const { return fields.month; }
    int getDay() const { return fields.day; }
    int getWeekday() const { return fields.dayOfWeek; }
    int getHour() const { return fields.hour; }
    int getMinute() const { return fields.minute; }
    int getSecond() const { return fields.second; }
    int getUTCMinutes() const { return utcMinutes; }
    bool isDaylight() const { return daylight; }

    // Sets the date from a local time in zone (the own zone by default).
    void parse(
        int year, int month, int day, int hour, int minute, int second, const WTimeZone& zone = TIME_ZONE_DEFAULT);

    // The result stays valid until the next formatting call on this date.
    const WString& format(TimeFormat f, const WTimeZone& zone = TIME_ZONE_DEFAULT) const;
    const WString& format(const char* pattern, const WTimeZone& zone = TIME_ZONE_DEFAULT) const;
    const WString& toString() const;

    static bool isLeapYear(unsigned long year);
    static unsigned long getMaxDaysOfMonth(unsigned long month, unsigned long year);

    // The broken-down calendar record of a time.
    struct Fields {
        int year;
        int month;
        int dayOfWeek;
        int day;
        int hour;
        int minute;
        int second;
        int milliseconds;
    };

protected:
    const WTimeZone& getTimeZone(const WTimeZone& z) const;
    void initialize();
    void toSystemTime(const WTimeZone& z);
    void fromSystemTime(const WTimeZone& z);
    // Local fields of time in zone z, with the total offset and daylight flag.
    void convert(const WTimeZone& z, Fields& out, int& offset, bool& isDaylight) const;

    static void format(WString& out, int f, const Fields& fields);
    static void format(WString& out, const char* pattern, const Fields& fields);

    Fields fields;
    uint64_t time;
    mutable WString text;
    WTimeZone zone;
    int utcMinutes;
    bool daylight;
};
