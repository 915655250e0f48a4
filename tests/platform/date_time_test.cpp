#include "platform/date_time.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <optional>
#include <ostream>
#include <string>

#include "platform/clock.hpp"
#include "platform/exceptions.hpp"

namespace sejfko {
namespace {

struct TKnownDate {
    TDateTime Value;
    int Year, Month, Day, Hour, Minute, Second, Millisecond;
};
// Keeps test names short when the test runner lists the cases.
void PrintTo(const TKnownDate& c, std::ostream* out) {
    *out << c.Value;
}

class KnownDates : public testing::TestWithParam<TKnownDate> {};

TEST_P(KnownDates, DecodeAndEncodeAgree) {
    const TKnownDate& k = GetParam();
    const TDateParts date = DecodeDate(k.Value);
    const TTimeParts time = DecodeTime(k.Value);
    EXPECT_EQ(date.Year, k.Year);
    EXPECT_EQ(date.Month, k.Month);
    EXPECT_EQ(date.Day, k.Day);
    EXPECT_EQ(time.Hour, k.Hour);
    EXPECT_EQ(time.Minute, k.Minute);
    EXPECT_EQ(time.Second, k.Second);
    EXPECT_EQ(time.Millisecond, k.Millisecond);
    EXPECT_DOUBLE_EQ(
        EncodeDateTime(k.Year, k.Month, k.Day, k.Hour, k.Minute, k.Second, k.Millisecond), k.Value);
}

INSTANTIATE_TEST_SUITE_P(
    Calendar, KnownDates,
    testing::Values(
        TKnownDate{0.0, 1899, 12, 30, 0, 0, 0, 0}, TKnownDate{0.875, 1899, 12, 30, 21, 0, 0, 0},
        TKnownDate{10.0, 1900, 1, 9, 0, 0, 0, 0}, TKnownDate{100.0, 1900, 4, 9, 0, 0, 0, 0},
        TKnownDate{100.5, 1900, 4, 9, 12, 0, 0, 0},
        // 1900 is no leap year, 2000 is.
        TKnownDate{60.0, 1900, 2, 28, 0, 0, 0, 0}, TKnownDate{61.0, 1900, 3, 1, 0, 0, 0, 0},
        TKnownDate{36585.0, 2000, 2, 29, 0, 0, 0, 0}, TKnownDate{36526.0, 2000, 1, 1, 0, 0, 0, 0},
        TKnownDate{45000.875, 2023, 3, 15, 21, 0, 0, 0},
        TKnownDate{45000.0 + 1234.0 / 86'400'000, 2023, 3, 15, 0, 0, 1, 234},
        // Negative values: the day counts back, the fraction is still the time.
        TKnownDate{-1.25, 1899, 12, 29, 6, 0, 0, 0},
        TKnownDate{-18095.75, 1850, 6, 15, 18, 0, 0, 0}, TKnownDate{-693593.0, 1, 1, 1, 0, 0, 0, 0},
        TKnownDate{2958465.0 + 86'399'999.0 / 86'400'000, 9999, 12, 31, 23, 59, 59, 999}));

TEST(DateTime, ImpossibleValuesDoNotEncode) {
    const int badDates[][3] = {{0, 1, 1},     {10000, 1, 1}, {2001, 0, 1},  {2001, 13, 1},
                               {2001, 1, 0},  {2001, 1, 32}, {1900, 2, 29}, {2000, 2, 30},
                               {2023, 4, 31}, {-5, 3, 3}};
    for (const auto& d : badDates) {
        EXPECT_THROW(EncodeDate(d[0], d[1], d[2]), EConvertError)
            << d[0] << "-" << d[1] << "-" << d[2];
    }
    const int badTimes[][4] = {{24, 0, 0, 0},   {0, 60, 0, 0}, {0, 0, 60, 0},
                               {0, 0, 0, 1000}, {-1, 0, 0, 0}, {0, 0, 0, -1}};
    for (const auto& t : badTimes) {
        EXPECT_THROW(EncodeTime(t[0], t[1], t[2], t[3]), EConvertError)
            << t[0] << ":" << t[1] << ":" << t[2] << "." << t[3];
    }
    EXPECT_THROW(EncodeDateTime(2023, 2, 29, 12, 0, 0), EConvertError);
}

TEST(DateTime, TimeRoundingUpToMidnightMovesToTheNextDay) {
    // Half a millisecond before midnight must not be shown as 24:00:00.
    const TDateTime almostMidnight = 45000.0 + 86'399'999.6 / 86'400'000;
    const TTimeParts time = DecodeTime(almostMidnight);
    EXPECT_EQ(time.Hour, 0);
    EXPECT_EQ(time.Millisecond, 0);
    EXPECT_EQ(DecodeDate(almostMidnight).Day, 16);
    EXPECT_EQ(FormatArchiveStamp(almostMidnight), "20230316_0000");
    // The same before the epoch: 29 December at 24:00 is 30 December at 00:00.
    EXPECT_EQ(DecodeDate(-1.0 - 86'399'999.6 / 86'400'000).Day, 30);
}

TEST(DateTime, ValuesOutsideTheCalendarDecodeToZero) {
    for (const double v : {1e300, -1e300, 3e6, -7e5, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity()}) {
        const TDateParts d = DecodeDate(v);
        EXPECT_EQ(d.Year, 0) << v;
        EXPECT_EQ(d.Month, 0) << v;
        EXPECT_EQ(DecodeTime(v).Hour, 0) << v;
        EXPECT_EQ(DateTimeToUnix(v), static_cast<std::time_t>(-1)) << v;
    }
}

TEST(DateTime, LeapYearsAndMonthLengths) {
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_TRUE(IsLeapYear(2024));
    EXPECT_FALSE(IsLeapYear(2023));
    EXPECT_EQ(DaysInMonth(2024, 2), 29);
    EXPECT_EQ(DaysInMonth(1900, 2), 28);
    EXPECT_EQ(DaysInMonth(2023, 4), 30);
    EXPECT_EQ(DaysInMonth(2023, 12), 31);
    EXPECT_EQ(DaysInMonth(2023, 13), 0);
}

TEST(DateTime, DayOfTheWeekIsIso) {
    EXPECT_EQ(DayOfTheWeek(EncodeDate(2026, 12, 8)), 2);                 // Tuesday
    EXPECT_EQ(DayOfTheWeek(EncodeDateTime(2024, 3, 3, 23, 59, 59)), 7);  // Sunday
    EXPECT_EQ(DayOfTheWeek(EncodeDate(1900, 1, 1)), 1);                  // Monday
    EXPECT_EQ(DayOfTheWeek(0.0), 6);                                     // Saturday
    EXPECT_EQ(DayOfTheWeek(-0.5), 6);  // still 30 December, at noon
    EXPECT_EQ(DayOfTheWeek(-1.0), 5);
    EXPECT_EQ(DayOfTheWeek(-7.75), 6);
    EXPECT_EQ(DayOfTheWeek(EncodeDate(1850, 6, 15)), 6);
    EXPECT_EQ(DayOfTheWeek(EncodeDate(1, 1, 1)), 1);
}

TEST(DateTime, ArchiveStamp) {
    EXPECT_EQ(FormatArchiveStamp(EncodeDateTime(2026, 12, 8, 7, 5, 59, 999)), "20261208_0705");
    EXPECT_EQ(FormatArchiveStamp(EncodeDateTime(987, 1, 2, 23, 0, 0)), "09870102_2300");
}

// Local-time conversions under a fixed zone with summer time, restored afterwards.
class PragueTime : public testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) {
            FSaved = tz;
        }
#ifdef _WIN32
        // The Windows C library knows no zone names, only this form (with its own summer time
        // rules, which agree with Prague's in January and July).
        setenv("TZ", "CET-1CEST", 1);
#else
        setenv("TZ", "Europe/Prague", 1);
#endif
        tzset();
    }
    void TearDown() override {
        if (FSaved) {
            setenv("TZ", FSaved->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::optional<std::string> FSaved;
};

TEST_F(PragueTime, WinterAndSummerOffsets) {
    EXPECT_DOUBLE_EQ(UnixToDateTime(0), EncodeDateTime(1970, 1, 1, 1, 0, 0));
    // 2024-07-01 12:00 UTC is 14:00 summer time.
    EXPECT_DOUBLE_EQ(UnixToDateTime(1719835200), EncodeDateTime(2024, 7, 1, 14, 0, 0));
    EXPECT_EQ(DateTimeToUnix(EncodeDateTime(2024, 7, 1, 14, 0, 0)), 1719835200);
    EXPECT_EQ(DecodeTime(UnixToDateTime(1719835200, 500'000'000)).Millisecond, 500);
    // Before the epoch the value is negative and still converts back.
    const std::time_t early = -2209161600 - 86400 * 10;  // 1899-12-20 00:00 UTC
    EXPECT_EQ(DecodeDate(UnixToDateTime(early)).Day, 20);
    EXPECT_EQ(DateTimeToUnix(UnixToDateTime(early)), early);
}

TEST_F(PragueTime, RoundTripAcrossSummerTimeChanges) {
    // Every quarter hour around the spring change: each local time occurs once.
    const std::time_t spring = 1711756800;  // 2024-03-30 00:00 UTC
    for (std::time_t t = spring; t < spring + 3 * 86400; t += 900) {
        EXPECT_EQ(DateTimeToUnix(UnixToDateTime(t)), t) << t;
    }
    // In autumn the hour from 02:00 to 03:00 occurs twice; either reading is right.
    const std::time_t autumn = 1729900800;  // 2024-10-26 00:00 UTC
    for (std::time_t t = autumn; t < autumn + 3 * 86400; t += 900) {
        const std::time_t back = DateTimeToUnix(UnixToDateTime(t));
        EXPECT_TRUE(back == t || back == t - 3600 || back == t + 3600) << t << " -> " << back;
    }
}

TEST(Clock, InstalledClockReplacesTheSystemClock) {
    TManualClock manual(EncodeDateTime(2026, 12, 8, 10, 30, 0));
    {
        TScopedClock scoped(manual);
        EXPECT_DOUBLE_EQ(Now(), EncodeDateTime(2026, 12, 8, 10, 30, 0));
        manual.Advance(1.5);
        EXPECT_DOUBLE_EQ(Now(), EncodeDateTime(2026, 12, 9, 22, 30, 0));
    }
    // Back on the system clock: today, within a generous margin.
    const TDateTime system = UnixToDateTime(std::time(nullptr));
    EXPECT_NEAR(Now(), system, 1.0 / 24);
}

}  // namespace
}  // namespace sejfko
