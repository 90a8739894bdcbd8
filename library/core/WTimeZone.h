#pragma once

#include "WString.h"

// A time zone in the form of a yearly rule: a base offset, standard and
// daylight names, and the moments standard and daylight time begin each year
// with their extra offsets. Offsets are minutes with local = UTC - offset
// (a zone one hour east of Greenwich has bias -60).
class WTimeZone {
public:
    // A yearly moment: the week-th dayOfWeek (0 = Sunday) of month, 5 = the
    // last one, at hour:minute local time. Hours may lie outside 0-23 (24 is
    // midnight at the end of that day). month 0 means no rule.
    class Date {
    public:
        Date() : month(0), dayOfWeek(0), week(0), hour(0), minute(0) { }
        Date(int inMonth, int onDayOfWeek, int inWeek, int atHour, int atMinute)
            : month(inMonth), dayOfWeek(onDayOfWeek), week(inWeek), hour(atHour), minute(atMinute)
        {
        }

        int month;
        int dayOfWeek;
        int week;
        int hour;
        int minute;
    };

    WTimeZone();
    WTimeZone(const char* name, int bias);
    WTimeZone(const char* name, const char* daylightName, int bias, const Date& standardDate, int standardBias,
        const Date& daylightDate, int daylightBias);

    int getBias() const { return bias; }
    const WString& getName() const { return name; }
    const WString& getDaylightName() const { return daylightName; }
    const Date& getStandardDate() const { return standardDate; }
    int getStandardBias() const { return standardBias; }
    const Date& getDaylightDate() const { return daylightDate; }
    int getDaylightBias() const { return daylightBias; }
    bool isDaylightZone() const { return daylightZone; }

    // Total offset for a local wall-clock time. A time in the hour skipped in
    // spring counts as daylight time; a time in the hour that repeats in autumn
    // is read as its first (daylight) occurrence.
    int calcBias(int year, int month, int day, int hour, int minute, bool& isDaylight) const;

    // Total offset at an instant, given as minutes since 1970-01-01 00:00 UTC.
    int calcBiasAt(long long utcMinutes, bool& isDaylight) const;

    // Day of the month of the week-th dayOfWeek (0 = Sunday) of month in year;
    // week 5 is the last such day. 0 when week or dayOfWeek is out of range.
    static unsigned long getCurrentTimeZoneDay(
        unsigned long year, unsigned long month, unsigned long dayOfWeek, unsigned long week);

    // Builds a zone from a POSIX TZ rule such as "CET-1CEST,M3.5.0,M10.5.0/3".
    static bool fromPosixRule(const char* rule, WTimeZone& zone);
    // Builds a zone from the rule at the end of a compiled zone file (TZif 2+).
    static bool fromZoneFile(const char* path, WTimeZone& zone);
    // The machine's zone: $TZ (a rule, or a zone file by name or path), else
    // /etc/localtime. False when none of them gives a zone.
    static bool loadLocalZone(WTimeZone& zone);

private:
    bool ruleMinutes(int year, long long& daylightStart, long long& standardStart) const;

    int bias;
    WString name;
    WString daylightName;
    Date standardDate;
    int standardBias;
    Date daylightDate;
    int daylightBias;
    bool daylightZone;
};
