#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "WDate.h"
#include "WException.h"
#include "WTimeZone.h"

namespace {

// The rules at the end of the zone files (tzdata 2025b).
struct ZoneRule {
    const char* zone;
    const char* rule;
} const ZONE_RULES[] = {
    {"Europe/Berlin", "CET-1CEST,M3.5.0,M10.5.0/3"},
    {"America/New_York", "EST5EDT,M3.2.0,M11.1.0"},
    {"Australia/Sydney", "AEST-10AEDT,M10.1.0,M4.1.0/3"},
    {"Pacific/Auckland", "NZST-12NZDT,M9.5.0,M4.1.0/3"},
    {"America/Santiago", "<-04>4<-03>,M9.1.6/24,M4.1.6/24"},
    {"Asia/Jerusalem", "IST-2IDT,M3.4.4/26,M10.5.0"},
};

// Every change of offset 2020-2030, from `zdump -v -c 2020,2031 <zone>`:
// zone, the instant (seconds since 1970 UTC), offset east of UTC in minutes
// and daylight flag before it, then after it.
struct Transition {
    const char* zone;
    long long at;
    int eastBefore;
    int dstBefore;
    int eastAfter;
    int dstAfter;
} const TRANSITIONS[] = {
    {"Europe/Berlin", 1585443600LL, 60, 0, 120, 1},
    {"Europe/Berlin", 1603587600LL, 120, 1, 60, 0},
    {"Europe/Berlin", 1616893200LL, 60, 0, 120, 1},
    {"Europe/Berlin", 1635642000LL, 120, 1, 60, 0},
    {"Europe/Berlin", 1648342800LL, 60, 0, 120, 1},
    {"Europe/Berlin", 1667091600LL, 120, 1, 60, 0},
    {"Europe/Berlin", 1679792400LL, 60, 0, 120, 1},
    {"Europe/Berlin", 1698541200LL, 120, 1, 60, 0},
    {"Europe/Berlin", 1711846800LL, 60, 0, 120, 1},
    {"Europe/Berlin", 1729990800LL, 120, 1, 60, 0},
    {"Europe/Berlin", 1743296400LL, 60, 0, 120, 1},
    {"Europe/Berlin", 1761440400LL, 120, 1, 60, 0},
    {"Europe/Berlin", 1774746000LL, 60, 0, 120, 1},
    {"Europe/Berlin", 1792890000LL, 120, 1, 60, 0},
    {"Europe/Berlin", 1806195600LL, 60, 0, 120, 1},
    {"Europe/Berlin", 1824944400LL, 120, 1, 60, 0},
    {"Europe/Berlin", 1837645200LL, 60, 0, 120, 1},
    {"Europe/Berlin", 1856394000LL, 120, 1, 60, 0},
    {"Europe/Berlin", 1869094800LL, 60, 0, 120, 1},
    {"Europe/Berlin", 1887843600LL, 120, 1, 60, 0},
    {"Europe/Berlin", 1901149200LL, 60, 0, 120, 1},
    {"Europe/Berlin", 1919293200LL, 120, 1, 60, 0},
    {"America/New_York", 1583650800LL, -300, 0, -240, 1},
    {"America/New_York", 1604210400LL, -240, 1, -300, 0},
    {"America/New_York", 1615705200LL, -300, 0, -240, 1},
    {"America/New_York", 1636264800LL, -240, 1, -300, 0},
    {"America/New_York", 1647154800LL, -300, 0, -240, 1},
    {"America/New_York", 1667714400LL, -240, 1, -300, 0},
    {"America/New_York", 1678604400LL, -300, 0, -240, 1},
    {"America/New_York", 1699164000LL, -240, 1, -300, 0},
    {"America/New_York", 1710054000LL, -300, 0, -240, 1},
    {"America/New_York", 1730613600LL, -240, 1, -300, 0},
    {"America/New_York", 1741503600LL, -300, 0, -240, 1},
    {"America/New_York", 1762063200LL, -240, 1, -300, 0},
    {"America/New_York", 1772953200LL, -300, 0, -240, 1},
    {"America/New_York", 1793512800LL, -240, 1, -300, 0},
    {"America/New_York", 1805007600LL, -300, 0, -240, 1},
    {"America/New_York", 1825567200LL, -240, 1, -300, 0},
    {"America/New_York", 1836457200LL, -300, 0, -240, 1},
    {"America/New_York", 1857016800LL, -240, 1, -300, 0},
    {"America/New_York", 1867906800LL, -300, 0, -240, 1},
    {"America/New_York", 1888466400LL, -240, 1, -300, 0},
    {"America/New_York", 1899356400LL, -300, 0, -240, 1},
    {"America/New_York", 1919916000LL, -240, 1, -300, 0},
    {"Australia/Sydney", 1586016000LL, 660, 1, 600, 0},
    {"Australia/Sydney", 1601740800LL, 600, 0, 660, 1},
    {"Australia/Sydney", 1617465600LL, 660, 1, 600, 0},
    {"Australia/Sydney", 1633190400LL, 600, 0, 660, 1},
    {"Australia/Sydney", 1648915200LL, 660, 1, 600, 0},
    {"Australia/Sydney", 1664640000LL, 600, 0, 660, 1},
    {"Australia/Sydney", 1680364800LL, 660, 1, 600, 0},
    {"Australia/Sydney", 1696089600LL, 600, 0, 660, 1},
    {"Australia/Sydney", 1712419200LL, 660, 1, 600, 0},
    {"Australia/Sydney", 1728144000LL, 600, 0, 660, 1},
    {"Australia/Sydney", 1743868800LL, 660, 1, 600, 0},
    {"Australia/Sydney", 1759593600LL, 600, 0, 660, 1},
    {"Australia/Sydney", 1775318400LL, 660, 1, 600, 0},
    {"Australia/Sydney", 1791043200LL, 600, 0, 660, 1},
    {"Australia/Sydney", 1806768000LL, 660, 1, 600, 0},
    {"Australia/Sydney", 1822492800LL, 600, 0, 660, 1},
    {"Australia/Sydney", 1838217600LL, 660, 1, 600, 0},
    {"Australia/Sydney", 1853942400LL, 600, 0, 660, 1},
    {"Australia/Sydney", 1869667200LL, 660, 1, 600, 0},
    {"Australia/Sydney", 1885996800LL, 600, 0, 660, 1},
    {"Australia/Sydney", 1901721600LL, 660, 1, 600, 0},
    {"Australia/Sydney", 1917446400LL, 600, 0, 660, 1},
    {"Pacific/Auckland", 1586008800LL, 780, 1, 720, 0},
    {"Pacific/Auckland", 1601128800LL, 720, 0, 780, 1},
    {"Pacific/Auckland", 1617458400LL, 780, 1, 720, 0},
    {"Pacific/Auckland", 1632578400LL, 720, 0, 780, 1},
    {"Pacific/Auckland", 1648908000LL, 780, 1, 720, 0},
    {"Pacific/Auckland", 1664028000LL, 720, 0, 780, 1},
    {"Pacific/Auckland", 1680357600LL, 780, 1, 720, 0},
    {"Pacific/Auckland", 1695477600LL, 720, 0, 780, 1},
    {"Pacific/Auckland", 1712412000LL, 780, 1, 720, 0},
    {"Pacific/Auckland", 1727532000LL, 720, 0, 780, 1},
    {"Pacific/Auckland", 1743861600LL, 780, 1, 720, 0},
    {"Pacific/Auckland", 1758981600LL, 720, 0, 780, 1},
    {"Pacific/Auckland", 1775311200LL, 780, 1, 720, 0},
    {"Pacific/Auckland", 1790431200LL, 720, 0, 780, 1},
    {"Pacific/Auckland", 1806760800LL, 780, 1, 720, 0},
    {"Pacific/Auckland", 1821880800LL, 720, 0, 780, 1},
    {"Pacific/Auckland", 1838210400LL, 780, 1, 720, 0},
    {"Pacific/Auckland", 1853330400LL, 720, 0, 780, 1},
    {"Pacific/Auckland", 1869660000LL, 780, 1, 720, 0},
    {"Pacific/Auckland", 1885384800LL, 720, 0, 780, 1},
    {"Pacific/Auckland", 1901714400LL, 780, 1, 720, 0},
    {"Pacific/Auckland", 1916834400LL, 720, 0, 780, 1},
    {"America/Santiago", 1586055600LL, -180, 1, -240, 0},
    {"America/Santiago", 1599364800LL, -240, 0, -180, 1},
    {"America/Santiago", 1617505200LL, -180, 1, -240, 0},
    {"America/Santiago", 1630814400LL, -240, 0, -180, 1},
    {"America/Santiago", 1648954800LL, -180, 1, -240, 0},
    {"America/Santiago", 1662868800LL, -240, 0, -180, 1},
    {"America/Santiago", 1680404400LL, -180, 1, -240, 0},
    {"America/Santiago", 1693713600LL, -240, 0, -180, 1},
    {"America/Santiago", 1712458800LL, -180, 1, -240, 0},
    {"America/Santiago", 1725768000LL, -240, 0, -180, 1},
    {"America/Santiago", 1743908400LL, -180, 1, -240, 0},
    {"America/Santiago", 1757217600LL, -240, 0, -180, 1},
    {"America/Santiago", 1775358000LL, -180, 1, -240, 0},
    {"America/Santiago", 1788667200LL, -240, 0, -180, 1},
    {"America/Santiago", 1806807600LL, -180, 1, -240, 0},
    {"America/Santiago", 1820116800LL, -240, 0, -180, 1},
    {"America/Santiago", 1838257200LL, -180, 1, -240, 0},
    {"America/Santiago", 1851566400LL, -240, 0, -180, 1},
    {"America/Santiago", 1870311600LL, -180, 1, -240, 0},
    {"America/Santiago", 1883016000LL, -240, 0, -180, 1},
    {"America/Santiago", 1901761200LL, -180, 1, -240, 0},
    {"America/Santiago", 1915070400LL, -240, 0, -180, 1},
    {"Asia/Jerusalem", 1585267200LL, 120, 0, 180, 1},
    {"Asia/Jerusalem", 1603580400LL, 180, 1, 120, 0},
    {"Asia/Jerusalem", 1616716800LL, 120, 0, 180, 1},
    {"Asia/Jerusalem", 1635634800LL, 180, 1, 120, 0},
    {"Asia/Jerusalem", 1648166400LL, 120, 0, 180, 1},
    {"Asia/Jerusalem", 1667084400LL, 180, 1, 120, 0},
    {"Asia/Jerusalem", 1679616000LL, 120, 0, 180, 1},
    {"Asia/Jerusalem", 1698534000LL, 180, 1, 120, 0},
    {"Asia/Jerusalem", 1711670400LL, 120, 0, 180, 1},
    {"Asia/Jerusalem", 1729983600LL, 180, 1, 120, 0},
    {"Asia/Jerusalem", 1743120000LL, 120, 0, 180, 1},
    {"Asia/Jerusalem", 1761433200LL, 180, 1, 120, 0},
    {"Asia/Jerusalem", 1774569600LL, 120, 0, 180, 1},
    {"Asia/Jerusalem", 1792882800LL, 180, 1, 120, 0},
    {"Asia/Jerusalem", 1806019200LL, 120, 0, 180, 1},
    {"Asia/Jerusalem", 1824937200LL, 180, 1, 120, 0},
    {"Asia/Jerusalem", 1837468800LL, 120, 0, 180, 1},
    {"Asia/Jerusalem", 1856386800LL, 180, 1, 120, 0},
    {"Asia/Jerusalem", 1868918400LL, 120, 0, 180, 1},
    {"Asia/Jerusalem", 1887836400LL, 180, 1, 120, 0},
    {"Asia/Jerusalem", 1900972800LL, 120, 0, 180, 1},
    {"Asia/Jerusalem", 1919286000LL, 180, 1, 120, 0},
};

// Santiago began daylight time on 11 September 2022 instead of the rule's
// 4 September; a yearly rule cannot hold that one-off change.
bool isHistoricException(const Transition& t)
{
    return std::string(t.zone) == "America/Santiago" && t.at == 1662868800LL;
}

WTimeZone zoneFor(const char* name)
{
    for (const ZoneRule& r : ZONE_RULES) {
        if (std::string(r.zone) == name) {
            WTimeZone zone;
            EXPECT_TRUE(WTimeZone::fromPosixRule(r.rule, zone)) << r.rule;
            return zone;
        }
    }
    ADD_FAILURE() << name;
    return WTimeZone();
}

bool haveZoneFiles()
{
    struct stat st;
    return stat("/usr/share/zoneinfo/Europe/Berlin", &st) == 0;
}

class ScopedTZ {
public:
    explicit ScopedTZ(const char* value)
    {
        const char* old = getenv("TZ");
        hadOld = old != nullptr;
        if (hadOld) oldValue = old;
        if (value != nullptr)
            setenv("TZ", value, 1);
        else
            unsetenv("TZ");
    }
    ~ScopedTZ()
    {
        if (hadOld)
            setenv("TZ", oldValue.c_str(), 1);
        else
            unsetenv("TZ");
    }

private:
    bool hadOld = false;
    std::string oldValue;
};

} // namespace

TEST(TimeZoneRule, DayOfRule)
{
    EXPECT_EQ(WTimeZone::getCurrentTimeZoneDay(2024, 3, 0, 5), 31u);
    EXPECT_EQ(WTimeZone::getCurrentTimeZoneDay(2024, 10, 0, 5), 27u);
    EXPECT_EQ(WTimeZone::getCurrentTimeZoneDay(2024, 3, 0, 2), 10u);
    // The n-th weekday counts occurrences, whatever day the month starts on:
    // March 2024 starts on a Friday, its fourth Thursday is the 28th.
    EXPECT_EQ(WTimeZone::getCurrentTimeZoneDay(2024, 3, 4, 4), 28u);
    EXPECT_EQ(WTimeZone::getCurrentTimeZoneDay(2024, 3, 4, 1), 7u);
    EXPECT_EQ(WTimeZone::getCurrentTimeZoneDay(2024, 3, 5, 1), 1u);
    EXPECT_EQ(WTimeZone::getCurrentTimeZoneDay(2024, 3, 5, 5), 29u);
    EXPECT_EQ(WTimeZone::getCurrentTimeZoneDay(2024, 9, 6, 1), 7u);
    EXPECT_EQ(WTimeZone::getCurrentTimeZoneDay(2024, 2, 4, 5), 29u);
    EXPECT_EQ(WTimeZone::getCurrentTimeZoneDay(2023, 2, 4, 5), 23u);
    EXPECT_EQ(WTimeZone::getCurrentTimeZoneDay(2024, 3, 0, 0), 0u);
    EXPECT_EQ(WTimeZone::getCurrentTimeZoneDay(2024, 3, 0, 6), 0u);
    EXPECT_EQ(WTimeZone::getCurrentTimeZoneDay(2024, 3, 7, 1), 0u);
    EXPECT_THROW(WTimeZone::getCurrentTimeZoneDay(2024, 13, 0, 1), WDateException);
    EXPECT_THROW(WTimeZone::getCurrentTimeZoneDay(1600, 1, 0, 1), WDateException);
}

TEST(TimeZoneRule, CalcBiasOnLocalTimes)
{
    WTimeZone eu("CET", "CEST", -60, WTimeZone::Date(10, 0, 5, 3, 0), 0, WTimeZone::Date(3, 0, 5, 2, 0), -60);
    EXPECT_TRUE(eu.isDaylightZone());
    bool dst = true;
    EXPECT_EQ(eu.calcBias(2024, 3, 31, 1, 59, dst), -60);
    EXPECT_FALSE(dst);
    EXPECT_EQ(eu.calcBias(2024, 3, 31, 2, 0, dst), -120);
    EXPECT_TRUE(dst);
    EXPECT_EQ(eu.calcBias(2024, 10, 27, 2, 59, dst), -120);
    EXPECT_TRUE(dst);
    EXPECT_EQ(eu.calcBias(2024, 10, 27, 3, 0, dst), -60);
    EXPECT_FALSE(dst);
    EXPECT_EQ(eu.calcBias(2024, 10, 30, 1, 0, dst), -60);
    EXPECT_FALSE(dst);
    EXPECT_EQ(eu.calcBias(2024, 7, 1, 12, 0, dst), -120);
    EXPECT_TRUE(dst);
    EXPECT_EQ(eu.calcBias(2024, 1, 1, 12, 0, dst), -60);
    EXPECT_FALSE(dst);

    WTimeZone plain("UTC", 0);
    EXPECT_FALSE(plain.isDaylightZone());
    EXPECT_EQ(plain.calcBias(2024, 7, 1, 0, 0, dst), 0);
    EXPECT_FALSE(dst);
}

TEST(TimeZoneRule, SouthernHemisphereSpansTheNewYear)
{
    WTimeZone sydney = zoneFor("Australia/Sydney");
    EXPECT_EQ(sydney.getBias(), -600);
    EXPECT_EQ(sydney.getDaylightBias(), -60);
    bool dst = false;
    EXPECT_EQ(sydney.calcBias(2024, 1, 1, 0, 0, dst), -660);
    EXPECT_TRUE(dst);
    EXPECT_EQ(sydney.calcBias(2024, 12, 31, 23, 0, dst), -660);
    EXPECT_TRUE(dst);
    EXPECT_EQ(sydney.calcBias(2024, 3, 15, 12, 0, dst), -660);
    EXPECT_TRUE(dst);
    EXPECT_EQ(sydney.calcBias(2024, 6, 1, 12, 0, dst), -600);
    EXPECT_FALSE(dst);
    EXPECT_EQ(sydney.calcBias(2024, 4, 7, 2, 59, dst), -660); // first Sunday of April, before 03:00
    EXPECT_EQ(sydney.calcBias(2024, 4, 7, 3, 0, dst), -600);
    EXPECT_EQ(sydney.calcBias(2024, 10, 6, 1, 59, dst), -600); // first Sunday of October
    EXPECT_EQ(sydney.calcBias(2024, 10, 6, 2, 0, dst), -660);
}

TEST(TimeZoneRule, PosixRules)
{
    WTimeZone z;
    ASSERT_TRUE(WTimeZone::fromPosixRule("CET-1CEST,M3.5.0,M10.5.0/3", z));
    EXPECT_STREQ(z.getName(), "CET");
    EXPECT_STREQ(z.getDaylightName(), "CEST");
    EXPECT_EQ(z.getBias(), -60);
    EXPECT_EQ(z.getStandardBias(), 0);
    EXPECT_EQ(z.getDaylightBias(), -60);
    EXPECT_EQ(z.getDaylightDate().month, 3);
    EXPECT_EQ(z.getDaylightDate().week, 5);
    EXPECT_EQ(z.getDaylightDate().dayOfWeek, 0);
    EXPECT_EQ(z.getDaylightDate().hour, 2);
    EXPECT_EQ(z.getStandardDate().month, 10);
    EXPECT_EQ(z.getStandardDate().hour, 3);

    ASSERT_TRUE(WTimeZone::fromPosixRule("UTC0", z));
    EXPECT_STREQ(z.getName(), "UTC");
    EXPECT_EQ(z.getBias(), 0);
    EXPECT_FALSE(z.isDaylightZone());

    ASSERT_TRUE(WTimeZone::fromPosixRule("<+0545>-5:45", z));
    EXPECT_STREQ(z.getName(), "+0545");
    EXPECT_EQ(z.getBias(), -345);

    ASSERT_TRUE(WTimeZone::fromPosixRule("<-04>4<-03>,M9.1.6/24,M4.1.6/24", z));
    EXPECT_EQ(z.getBias(), 240);
    EXPECT_EQ(z.getDaylightBias(), -60);
    EXPECT_EQ(z.getDaylightDate().hour, 24);

    // A daylight name without rules follows the US rules, one hour ahead.
    ASSERT_TRUE(WTimeZone::fromPosixRule("EST5EDT", z));
    EXPECT_EQ(z.getBias(), 300);
    EXPECT_EQ(z.getDaylightBias(), -60);
    EXPECT_EQ(z.getDaylightDate().month, 3);
    EXPECT_EQ(z.getDaylightDate().week, 2);
    EXPECT_EQ(z.getStandardDate().month, 11);

    // Negative daylight saving (winter time is the "daylight" time).
    ASSERT_TRUE(WTimeZone::fromPosixRule("IST-1GMT0,M10.5.0,M3.5.0/1", z));
    EXPECT_EQ(z.getBias(), -60);
    EXPECT_EQ(z.getDaylightBias(), 60);
    bool dst = false;
    EXPECT_EQ(z.calcBias(2024, 1, 15, 12, 0, dst), 0);
    EXPECT_TRUE(dst);
    EXPECT_EQ(z.calcBias(2024, 7, 15, 12, 0, dst), -60);
    EXPECT_FALSE(dst);

    ASSERT_TRUE(WTimeZone::fromPosixRule("<-02>2<-01>,M3.5.0/-1,M10.5.0/0", z));
    EXPECT_EQ(z.getDaylightDate().hour, -1);

    const char* bad[] = {"", "X", "CET", "CET-1CEST,M3.5.0", "CET-1CEST,J60,J300", "CET-1CEST,M13.5.0,M10.5.0",
        "<CET-1", "CET-1CEST,M3.5.0,M10.5.0/3x"};
    for (const char* rule : bad)
        EXPECT_FALSE(WTimeZone::fromPosixRule(rule, z)) << rule;
}

// Offsets beyond a day, rule times beyond 167 hours and numbers long enough
// to overflow are refused; as TZ they give UTC, as an unknown name does.
TEST(TimeZoneRule, OutOfRangeNumbersAreRefused)
{
    const char* accepted[] = {"<+24>-24", "<-24>24:00:00", "CET-1CEST,M3.5.0/167,M10.5.0/-167", "ABC-23:59:59"};
    const char* refused[] = {
        "ABC25",
        "ABC-24:00:01",
        "ABC99999999999999999999",
        "ABC9223372036854775807",
        "ABC2147483647:59",
        "ABC1:60",
        "ABC1:00:60",
        "ABC1:9999999999999999999",
        "CET-1CEST25,M3.5.0,M10.5.0",
        "CET-1CEST,M3.5.0/168,M10.5.0",
        "CET-1CEST,M3.5.0/-168,M10.5.0",
        "CET-1CEST,M3.5.0/99999999999999999999,M10.5.0",
        "CET-1CEST,M3.5.0,M10.5.0/2147483648",
        "CET-1CEST,M99999999999999999999.5.0,M10.5.0",
        "CET-1CEST,M3.99999999999999999999.0,M10.5.0",
        "CET-1CEST,M3.5.4294967296,M10.5.0",
    };
    WTimeZone z;
    for (const char* rule : accepted)
        EXPECT_TRUE(WTimeZone::fromPosixRule(rule, z)) << rule;
    for (const char* rule : refused) {
        SCOPED_TRACE(rule);
        EXPECT_FALSE(WTimeZone::fromPosixRule(rule, z));
        ScopedTZ tz(rule);
        ASSERT_TRUE(WTimeZone::loadLocalZone(z));
        EXPECT_EQ(z.getBias(), 0);
        EXPECT_FALSE(z.isDaylightZone());
    }
}

// The offsets around every change 2020-2030 agree with zdump.
TEST(TimeZoneRule, AgreesWithZdump)
{
    int checked = 0;
    for (const Transition& t : TRANSITIONS) {
        if (isHistoricException(t)) continue;
        WTimeZone zone = zoneFor(t.zone);
        bool dst = false;
        long long minuteBefore = (t.at - 60) / 60;
        EXPECT_EQ(zone.calcBiasAt(minuteBefore, dst), -t.eastBefore) << t.zone << " " << t.at;
        EXPECT_EQ(dst, t.dstBefore != 0) << t.zone << " " << t.at;
        EXPECT_EQ(zone.calcBiasAt(t.at / 60, dst), -t.eastAfter) << t.zone << " " << t.at;
        EXPECT_EQ(dst, t.dstAfter != 0) << t.zone << " " << t.at;

        // The same through dates, to the second.
        WDate before(0);
        before.setDefaultTimeZone(zone);
        before.setTime(t.at - 1);
        EXPECT_EQ(before.getUTCMinutes(), -t.eastBefore) << t.zone << " " << t.at;
        WDate after(0);
        after.setDefaultTimeZone(zone);
        after.setTime(t.at);
        EXPECT_EQ(after.getUTCMinutes(), -t.eastAfter) << t.zone << " " << t.at;
        EXPECT_EQ(after.isDaylight(), t.dstAfter != 0);
        checked++;
    }
    EXPECT_EQ(checked, 131);
}

TEST(TimeZoneFile, RulesFromZoneFiles)
{
    if (!haveZoneFiles()) GTEST_SKIP() << "no zone files installed";
    for (const ZoneRule& r : ZONE_RULES) {
        std::string path = std::string("/usr/share/zoneinfo/") + r.zone;
        WTimeZone fromFile, fromRule;
        ASSERT_TRUE(WTimeZone::fromZoneFile(path.c_str(), fromFile)) << path;
        ASSERT_TRUE(WTimeZone::fromPosixRule(r.rule, fromRule));
        EXPECT_EQ(fromFile.getBias(), fromRule.getBias()) << r.zone;
        EXPECT_EQ(fromFile.getDaylightBias(), fromRule.getDaylightBias()) << r.zone;
        EXPECT_EQ(fromFile.getDaylightDate().month, fromRule.getDaylightDate().month) << r.zone;
        EXPECT_EQ(fromFile.getStandardDate().month, fromRule.getStandardDate().month) << r.zone;
        EXPECT_STREQ(fromFile.getName(), fromRule.getName()) << r.zone;
    }
    WTimeZone z;
    ASSERT_TRUE(WTimeZone::fromZoneFile("/usr/share/zoneinfo/Etc/UTC", z));
    EXPECT_EQ(z.getBias(), 0);
    EXPECT_FALSE(z.isDaylightZone());
    ASSERT_TRUE(WTimeZone::fromZoneFile("/usr/share/zoneinfo/Asia/Kolkata", z));
    EXPECT_EQ(z.getBias(), -330);
    EXPECT_FALSE(WTimeZone::fromZoneFile("/etc/hostname", z));
    EXPECT_FALSE(WTimeZone::fromZoneFile("/nonexistent/zone", z));
    EXPECT_FALSE(WTimeZone::fromZoneFile("/usr/share/zoneinfo", z));
}

TEST(TimeZoneFile, LocalZoneFromTZ)
{
    WTimeZone z;
    {
        ScopedTZ tz("CET-1CEST,M3.5.0,M10.5.0/3");
        ASSERT_TRUE(WTimeZone::loadLocalZone(z));
        EXPECT_EQ(z.getBias(), -60);
        EXPECT_TRUE(z.isDaylightZone());
    }
    {
        ScopedTZ tz("");
        ASSERT_TRUE(WTimeZone::loadLocalZone(z));
        EXPECT_EQ(z.getBias(), 0);
        EXPECT_FALSE(z.isDaylightZone());
    }
    {
        ScopedTZ tz("Nowhere/Bogus");
        ASSERT_TRUE(WTimeZone::loadLocalZone(z));
        EXPECT_EQ(z.getBias(), 0);
    }
    if (!haveZoneFiles()) GTEST_SKIP() << "no zone files installed";
    {
        ScopedTZ tz("America/New_York");
        ASSERT_TRUE(WTimeZone::loadLocalZone(z));
        EXPECT_EQ(z.getBias(), 300);
        EXPECT_STREQ(z.getDaylightName(), "EDT");
    }
    {
        ScopedTZ tz(":Pacific/Auckland");
        ASSERT_TRUE(WTimeZone::loadLocalZone(z));
        EXPECT_EQ(z.getBias(), -720);
    }
    {
        ScopedTZ tz("/usr/share/zoneinfo/Asia/Jerusalem");
        ASSERT_TRUE(WTimeZone::loadLocalZone(z));
        EXPECT_EQ(z.getBias(), -120);
        EXPECT_EQ(z.getDaylightDate().hour, 26);
    }
    {
        ScopedTZ tz("../../etc/passwd");
        ASSERT_TRUE(WTimeZone::loadLocalZone(z));
        EXPECT_EQ(z.getBias(), 0);
    }
}

// Against the C library, which reads the same zone files: every 7h 13m
// from 2020 to 2030, the local fields agree, and parsing them back gives the
// instant again unless the local time is ambiguous or skipped.
TEST(TimeZoneFile, AgreesWithTheCLibrary)
{
    if (!haveZoneFiles()) GTEST_SKIP() << "no zone files installed";
    for (const ZoneRule& r : ZONE_RULES) {
        ScopedTZ tz(r.zone);
        tzset();
        WTimeZone zone;
        ASSERT_TRUE(WTimeZone::loadLocalZone(zone));
        WDate date(0);
        date.setDefaultTimeZone(zone);
        int mismatches = 0;
        for (long long t = 1577836800LL; t < 1924992000LL && mismatches < 5; t += 7 * 3600 + 13 * 60) {
            bool nearException = false;
            for (const Transition& x : TRANSITIONS) {
                if (isHistoricException(x) && std::string(x.zone) == r.zone && t >= x.at - 8 * 86400 && t < x.at)
                    nearException = true;
            }
            if (nearException) continue;
            time_t tt = (time_t)t;
            struct tm ref;
            localtime_r(&tt, &ref);
            date.setTime(t);
            bool same = date.getYear() == ref.tm_year + 1900 && date.getMonth() == ref.tm_mon + 1
                && date.getDay() == ref.tm_mday && date.getHour() == ref.tm_hour && date.getMinute() == ref.tm_min
                && date.getWeekday() == ref.tm_wday && date.getUTCMinutes() == -(int)(ref.tm_gmtoff / 60)
                && date.isDaylight() == (ref.tm_isdst > 0);
            if (!same) {
                mismatches++;
                ADD_FAILURE() << r.zone << " at " << t << ": " << date.toString().getBuf();
            }
            // Ambiguous local times: the same wall time an hour earlier or later.
            time_t earlier = tt - 3600, later = tt + 3600;
            struct tm e, l;
            localtime_r(&earlier, &e);
            localtime_r(&later, &l);
            bool ambiguous = e.tm_gmtoff != ref.tm_gmtoff || l.tm_gmtoff != ref.tm_gmtoff;
            if (!ambiguous) {
                WDate parsed(0);
                parsed.setDefaultTimeZone(zone);
                parsed.parse(ref.tm_year + 1900, ref.tm_mon + 1, ref.tm_mday, ref.tm_hour, ref.tm_min, ref.tm_sec);
                EXPECT_EQ(parsed.getTime(), t) << r.zone;
            }
        }
    }
    tzset();
}

// Damaged zone files are refused or read, never read beyond their end.
TEST(TimeZoneFile, DamagedFiles)
{
    if (!haveZoneFiles()) GTEST_SKIP() << "no zone files installed";
    FILE* in = fopen("/usr/share/zoneinfo/Europe/Berlin", "rb");
    ASSERT_NE(in, nullptr);
    std::string data;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, in)) > 0)
        data.append(buf, n);
    fclose(in);
    char name[] = "/tmp/tzif-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    auto load = [&](const std::string& content) {
        FILE* out = fopen(name, "wb");
        fwrite(content.data(), 1, content.size(), out);
        fclose(out);
        WTimeZone zone;
        return WTimeZone::fromZoneFile(name, zone);
    };
    EXPECT_TRUE(load(data));
    for (size_t cut = 0; cut + 1 < data.size(); cut += 7)
        EXPECT_FALSE(load(data.substr(0, cut))) << cut;
    for (size_t at = 20; at < 44; at++) {
        std::string damaged = data;
        damaged[at] = (char)0xFF;
        load(damaged);
    }
    // Without a rule the zone keeps its last offset.
    std::string noRule = data.substr(0, data.rfind('\n', data.size() - 2) + 1) + "\n";
    WTimeZone zone;
    FILE* out = fopen(name, "wb");
    fwrite(noRule.data(), 1, noRule.size(), out);
    fclose(out);
    ASSERT_TRUE(WTimeZone::fromZoneFile(name, zone));
    EXPECT_FALSE(zone.isDaylightZone());
    EXPECT_EQ(zone.getBias() % 60, 0);
    unlink(name);
}

// Every installed zone file gives a zone.
TEST(TimeZoneFile, AllInstalledZones)
{
    if (!haveZoneFiles()) GTEST_SKIP() << "no zone files installed";
    static int loaded, failed;
    loaded = failed = 0;
    auto visit = [](const char* path, const struct stat* st, int type, struct FTW*) {
        if (type != FTW_F || st->st_size < 44) return 0;
        FILE* f = fopen(path, "rb");
        char magic[5] = {0};
        bool tzif = f != nullptr && fread(magic, 1, 5, f) == 5 && memcmp(magic, "TZif", 4) == 0 && magic[4] >= '2';
        if (f != nullptr) fclose(f);
        if (!tzif) return 0;
        WTimeZone zone;
        if (WTimeZone::fromZoneFile(path, zone)) {
            loaded++;
        } else {
            failed++;
            ADD_FAILURE() << path;
        }
        return 0;
    };
    nftw("/usr/share/zoneinfo", visit, 16, FTW_PHYS);
    EXPECT_EQ(failed, 0);
    EXPECT_GT(loaded, 300);
}
