#include <gtest/gtest.h>

#include <ctime>

#include "WDate.h"
#include "WException.h"
#include "WTimeZone.h"

namespace {

const WTimeZone UTC;
const WTimeZone EUROPE("CET", "CEST", -60, WTimeZone::Date(10, 0, 5, 3, 0), 0, WTimeZone::Date(3, 0, 5, 2, 0), -60);

// 5 January 2025, 08:03:09 UTC.
const long long JAN5 = 1736064189LL;

WDate dateIn(const WTimeZone& zone, long long seconds)
{
    WDate d(0);
    d.setDefaultTimeZone(zone);
    d.setTime(seconds);
    return d;
}

} // namespace

TEST(DateFormat, FixedFormats)
{
    WDate d = dateIn(UTC, JAN5);
    EXPECT_STREQ(d.format(WDate::TIME_FORMAT_LOG), "Sun Jan  5 08:03:09 2025");
    EXPECT_STREQ(d.format(WDate::TIME_FORMAT_UTC), "20250105T080309Z");
    EXPECT_STREQ(d.toString(), "05.01.2025 / 08:03:09");
    EXPECT_STREQ(d.format((WDate::TimeFormat)2), "");
    EXPECT_STREQ(dateIn(UTC, JAN5 + 9 * 86400).format(WDate::TIME_FORMAT_LOG), "Tue Jan 14 08:03:09 2025");
}

TEST(DateFormat, Format5IsAlwaysUTC)
{
    // Summer in a zone whose base offset is 0 but whose daylight time is not.
    WTimeZone london;
    ASSERT_TRUE(WTimeZone::fromPosixRule("GMT0BST,M3.5.0/1,M10.5.0", london));
    WDate d = dateIn(london, 1719835200LL); // 2024-07-01 12:00:00 UTC
    EXPECT_EQ(d.getHour(), 13);
    EXPECT_STREQ(d.format(WDate::TIME_FORMAT_UTC), "20240701T120000Z");
    EXPECT_STREQ(d.format(WDate::TIME_FORMAT_LOG), "Mon Jul  1 13:00:00 2024");
    EXPECT_STREQ(d.format(WDate::TIME_FORMAT_UTC, EUROPE), "20240701T120000Z");
    EXPECT_STREQ(d.format(WDate::TIME_FORMAT_LOG, EUROPE), "Mon Jul  1 14:00:00 2024");
    // Formatting in another zone leaves the date's own fields alone.
    EXPECT_EQ(d.getHour(), 13);
    EXPECT_EQ(d.getUTCMinutes(), -60);
}

TEST(DateFormat, Patterns)
{
    struct Case {
        long long at;
        const char* pattern;
        const char* text;
    } cases[] = {
        {JAN5, "%y", "25"},
        {JAN5, "%A %a %w", "Sun Sun 0"},
        {JAN5, "%q", ""},
        {JAN5, "100%%", "100%"},
        {JAN5, "end%", "end"},
        {JAN5, "%d.%m.%Y", "05.01.2025"},
        {JAN5, "%H:%M:%S", "08:03:09"},
        {1735648200LL, "%I %p", "12 A.M"}, // 2024-12-31 12:30
        {1735603800LL, "%I %p", "00 A.M"}, // 2024-12-31 00:10
        {1735650300LL, "%I %p", "01 P.M"}, // 2024-12-31 13:05
        {-11644473600LL, "%Y %y", "1601 01"},
        {910670515199LL, "%Y %y", "30827 827"},
        {253402300799LL, "%Y-%m-%d %H:%M:%S", "9999-12-31 23:59:59"},
    };
    for (const Case& c : cases) {
        WDate d = dateIn(UTC, c.at);
        EXPECT_STREQ(d.format(c.pattern), c.text) << c.pattern;
    }
}

TEST(DateParse, ValidAndInvalid)
{
    WDate d(0);
    d.setDefaultTimeZone(UTC);
    EXPECT_THROW(d.parse(2024, 2, 30, 0, 0, 0), WDateException);
    try {
        d.parse(2023, 2, 29, 0, 0, 0);
        FAIL();
    } catch (const WDateException& e) {
        EXPECT_STREQ(e.getMessage(), "Invalid date/time to parse.");
        EXPECT_EQ(e.getId(), -1);
    }
    const int bad[][6] = {{2024, 13, 1, 0, 0, 0}, {2024, 1, 32, 0, 0, 0}, {2024, 1, 1, 24, 0, 0},
        {2024, 1, 1, 0, 60, 0}, {2024, 1, 1, 0, 0, 60}, {1600, 12, 31, 0, 0, 0}, {0, 0, 0, 0, 0, 0},
        {2024, 0, 1, 0, 0, 0}, {2024, 1, 0, 0, 0, 0}};
    for (const auto& b : bad)
        EXPECT_THROW(d.parse(b[0], b[1], b[2], b[3], b[4], b[5]), WDateException) << b[0] << "-" << b[1];
    // A failed parse leaves the date as it was.
    d.setTime(JAN5);
    EXPECT_THROW(d.parse(2024, 2, 30, 0, 0, 0), WDateException);
    EXPECT_EQ(d.getTime(), JAN5);
    EXPECT_EQ(d.getDay(), 5);

    d.parse(2024, 2, 29, 12, 0, 0);
    EXPECT_EQ(d.getTime(), 1709208000LL);
    EXPECT_EQ(d.getWeekday(), 4);
    EXPECT_STREQ(d.toString(), "29.02.2024 / 12:00:00");
}

TEST(DateParse, InZones)
{
    WDate d(0);
    d.setDefaultTimeZone(EUROPE);
    d.parse(2024, 7, 1, 14, 0, 0);
    EXPECT_EQ(d.getTime(), 1719835200LL);
    EXPECT_TRUE(d.isDaylight());
    EXPECT_EQ(d.getUTCMinutes(), -120);
    d.parse(2024, 1, 1, 1, 0, 0);
    EXPECT_EQ(d.getTime(), 1704067200LL);
    EXPECT_FALSE(d.isDaylight());
    // An explicit zone: the fields are read in it.
    d.parse(2024, 1, 1, 0, 0, 0, UTC);
    EXPECT_EQ(d.getTime(), 1704067200LL);
    // Round trips through format and parse.
    for (long long t = 1577836800LL; t < 1924992000LL; t += 86400 * 11 + 3607) {
        WDate a = dateIn(EUROPE, t);
        WDate b(0);
        b.setDefaultTimeZone(EUROPE);
        b.parse(a.getYear(), a.getMonth(), a.getDay(), a.getHour(), a.getMinute(), a.getSecond());
        EXPECT_EQ(b.getTime(), t);
        EXPECT_STREQ(b.format("%d.%m.%Y %H:%M:%S"), a.format("%d.%m.%Y %H:%M:%S"));
    }
}

TEST(DateTime, EuropeanChanges)
{
    // 31 March 2024 01:00 UTC is 03:00 CEST.
    WDate spring = dateIn(EUROPE, 1711846800LL);
    EXPECT_EQ(spring.getHour(), 3);
    EXPECT_EQ(spring.getUTCMinutes(), -120);
    EXPECT_TRUE(spring.isDaylight());
    WDate beforeSpring = dateIn(EUROPE, 1711846800LL - 1);
    EXPECT_STREQ(beforeSpring.format("%H:%M:%S"), "01:59:59");
    // 27 October 2024 00:30 UTC is 02:30 CEST, 01:30 UTC is 02:30 CET.
    WDate first = dateIn(EUROPE, 1729989000LL);
    EXPECT_STREQ(first.format("%H:%M"), "02:30");
    EXPECT_EQ(first.getUTCMinutes(), -120);
    WDate second = dateIn(EUROPE, 1729992600LL);
    EXPECT_STREQ(second.format("%H:%M"), "02:30");
    EXPECT_EQ(second.getUTCMinutes(), -60);
    EXPECT_FALSE(second.isDaylight());
}

TEST(DateTime, SecondsRoundTrip)
{
    WDate d(0);
    d.setDefaultTimeZone(UTC);
    EXPECT_EQ(d.getTime(), 0);
    EXPECT_STREQ(d.toString(), "01.01.1970 / 00:00:00");
    // Before 1970 the seconds are negative, not a huge unsigned value.
    d.setTime(-1);
    EXPECT_EQ(d.getTime(), -1);
    EXPECT_STREQ(d.toString(), "31.12.1969 / 23:59:59");
    d.setTime(-11644473600LL);
    EXPECT_STREQ(d.toString(), "01.01.1601 / 00:00:00");
    EXPECT_EQ(d.getWeekday(), 1);
    EXPECT_THROW(d.setTime(-11644473601LL), WDateException);
    d.setTime(910670515199LL); // the last second of 30827
    EXPECT_STREQ(d.format("%Y-%m-%d %H:%M:%S"), "30827-12-31 23:59:59");
    EXPECT_THROW(d.setTime(910670515200LL), WDateException);
    try {
        d.setTime(-99999999999999LL);
        FAIL();
    } catch (const WDateException& e) {
        EXPECT_STREQ(e.getMessage(), "Invalid time value to set.");
    }
    EXPECT_THROW(WDate(910670515200LL), WDateException);

    d.parse(1969, 7, 20, 20, 17, 40);
    EXPECT_EQ(d.getTime(), -14182940LL);
}

TEST(DateTime, NowIsNow)
{
    WDate now;
    long long t = (long long)time(nullptr);
    EXPECT_LE(std::llabs(now.getTime() - t), 2);
    WDate later(0);
    later.loadTime();
    EXPECT_GE(later.getTime(), now.getTime());
}

TEST(DateCalendar, LeapYearsAndMonthLengths)
{
    EXPECT_TRUE(WDate::isLeapYear(2000));
    EXPECT_FALSE(WDate::isLeapYear(1900));
    EXPECT_TRUE(WDate::isLeapYear(2024));
    EXPECT_FALSE(WDate::isLeapYear(2023));
    EXPECT_EQ(WDate::getMaxDaysOfMonth(2, 1900), 28u);
    EXPECT_EQ(WDate::getMaxDaysOfMonth(2, 2000), 29u);
    EXPECT_EQ(WDate::getMaxDaysOfMonth(13, 2000), 0u);
    EXPECT_EQ(WDate::getMaxDaysOfMonth(0, 2000), 0u);
    EXPECT_EQ(WDate::getMaxDaysOfMonth(4, 2000), 30u);
    EXPECT_EQ(WDate::getMaxDaysOfMonth(12, 2000), 31u);
}
