// The schedule as functions of the option values and "now".

#include "backup/schedule.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace sejfko {
namespace {

constexpr double Minute = 1.0 / (24 * 60);
const TDateTime At2000 = EncodeTime(20, 0, 0);

// Prints a date-time readably in failure messages.
std::string Show(TDateTime value) {
    const TDateParts d = DecodeDate(value);
    const TTimeParts t = DecodeTime(value);
    return std::to_string(d.Year) + "-" + std::to_string(d.Month) + "-" + std::to_string(d.Day) +
           " " + std::to_string(t.Hour) + ":" + std::to_string(t.Minute) + ":" +
           std::to_string(t.Second);
}

void ExpectSameMoment(TDateTime actual, TDateTime expected) {
    EXPECT_NEAR(actual, expected, 1e-6) << Show(actual) << " instead of " << Show(expected);
}

TEST(NextRunTimeTest, InitialIsLastRunPlusIntervalAtTheTimeOfDay) {
    const TDateTime lastRun = EncodeDateTime(2024, 1, 10, 20, 3, 0);
    const TDateTime now = EncodeDateTime(2024, 3, 1, 12, 0, 0);  // no catch-up when initial
    ExpectSameMoment(NextRunTime(true, lastRun, 0.0, 7, At2000, now),
                     EncodeDateTime(2024, 1, 17, 20, 0, 0));
}

TEST(NextRunTimeTest, FreshOptionsGiveAMomentBelowTen) {
    const TDateTime next = NextRunTime(true, 0.0, 0.0, 1, At2000, EncodeDate(2024, 5, 5));
    EXPECT_LT(next, 10.0);
    ExpectSameMoment(next, EncodeDateTime(1899, 12, 31, 20, 0, 0));
}

TEST(NextRunTimeTest, AfterAnImmediateRunTheNextSlotLiesAfterNow) {
    // The front end wrote Now into NextRun; the run's closing steps move it on.
    const TDateTime now = EncodeDateTime(2024, 1, 10, 9, 30, 0);
    ExpectSameMoment(NextRunTime(false, 100.0, now, 1, At2000, now),
                     EncodeDateTime(2024, 1, 11, 20, 0, 0));
    // A run that ends after its slot's time of day: a whole interval more.
    const TDateTime late = EncodeDateTime(2024, 1, 11, 20, 30, 0);
    ExpectSameMoment(
        NextRunTime(false, 100.0, EncodeDateTime(2024, 1, 10, 20, 0, 0), 1, At2000, late),
        EncodeDateTime(2024, 1, 12, 20, 0, 0));
}

TEST(NextRunTimeTest, CatchUpStepsByWholeIntervalsPastNow) {
    const TDateTime now = EncodeDateTime(2024, 2, 1, 20, 0, 0);
    // 1 Jan + 3 = 4 Jan, then steps of 3 days: 4, 7, ..., 31 Jan, 3 Feb.
    ExpectSameMoment(NextRunTime(false, 0.0, EncodeDateTime(2024, 1, 1, 20, 0, 0), 3, At2000, now),
                     EncodeDateTime(2024, 2, 3, 20, 0, 0));
    // Exactly at the slot is not later than it: the slot stays.
    ExpectSameMoment(NextRunTime(false, 0.0, EncodeDateTime(2024, 1, 31, 20, 0, 0), 1, At2000, now),
                     now);
    // Years away, and still a whole number of intervals after the start.
    const TDateTime far = NextRunTime(false, 0.0, 100.0, 7, At2000, now);
    EXPECT_GT(far, now);
    EXPECT_LE(far - now, 7.0);
    EXPECT_NEAR(std::fmod(far - (100.0 + At2000), 7.0), 0.0, 1e-6);
}

TEST(NextRunTimeTest, IntervalBelowOneCountsAsOne) {
    const TDateTime now = EncodeDateTime(2024, 1, 10, 21, 0, 0);
    for (int32_t every : {0, -1, -2147483647 - 1}) {
        EXPECT_EQ(EffectiveRunEvery(every), 1);
        ExpectSameMoment(NextRunTime(false, 0.0, now, every, At2000, now),
                         EncodeDateTime(2024, 1, 11, 20, 0, 0));
        ExpectSameMoment(
            NextRunTime(true, EncodeDateTime(2024, 1, 10, 8, 0, 0), 0.0, every, At2000, now),
            EncodeDateTime(2024, 1, 11, 20, 0, 0));
    }
}

// A clock set ahead and corrected left "Last run" (or a plan) in the future: planned from now.
TEST(NextRunTimeTest, MomentsLaterThanNowCountAsNow) {
    const TDateTime now = EncodeDateTime(2024, 1, 10, 9, 30, 0);
    const TDateTime ahead = EncodeDateTime(2028, 9, 4, 20, 3, 0);
    ExpectSameMoment(NextRunTime(true, ahead, 0.0, 1, At2000, now),
                     EncodeDateTime(2024, 1, 11, 20, 0, 0));
    ExpectSameMoment(NextRunTime(false, ahead, ahead + 1.0, 7, At2000, now),
                     EncodeDateTime(2024, 1, 17, 20, 0, 0));
    EXPECT_EQ(PlanningTime(ahead, now), now);
    EXPECT_EQ(PlanningTime(100.0, now), 100.0);
    // Anything a plan made now can give is within reach; beyond it, the clock went back.
    EXPECT_FALSE(PlannedBeyondReach(NextRunTime(true, now, 0.0, 7, At2000, now), 7, now));
    EXPECT_FALSE(PlannedBeyondReach(NextRunTime(false, 0.0, now, 7, At2000, now), 7, now));
    EXPECT_TRUE(PlannedBeyondReach(EncodeDateTime(2024, 1, 19, 0, 0, 0), 7, now));
    EXPECT_FALSE(PlannedBeyondReach(EncodeDateTime(2024, 1, 19, 0, 0, 0), 8, now));
    // Whether a complete backup is due: as if the last run were now.
    for (int day = 0; day < 14; ++day) {
        const TDateTime at = now + day;
        EXPECT_EQ(IncrementalRunAllowed(bkIncWeek, 3, 0, At2000, ahead, at),
                  IncrementalRunAllowed(bkIncWeek, 3, 0, At2000, at, at))
            << Show(at);
    }
}

TEST(NextRunTimeTest, AnEndlessNowDoesNotHang) {
    EXPECT_EQ(NextRunTime(false, 0.0, 45000.0, 1, At2000, INFINITY), 45001.0 + At2000);
    EXPECT_TRUE(std::isnan(NextRunTime(false, 0.0, NAN, 1, At2000, 45000.0)));
}

// Weekly kind, complete on Wednesday (3); 8 January 2024 is a Monday.
class WeeklyRuleTest : public ::testing::Test {
protected:
    static bool Incremental(TDateTime lastRun, TDateTime now) {
        return IncrementalRunAllowed(bkIncWeek, 3, 0, At2000, lastRun, now);
    }
    const TDateTime Monday2000 = EncodeDateTime(2024, 1, 8, 20, 0, 0);
};

TEST_F(WeeklyRuleTest, TuesdayIsIncrementalWednesdayComplete) {
    EXPECT_TRUE(Incremental(Monday2000, EncodeDateTime(2024, 1, 9, 20, 0, 5)));
    EXPECT_FALSE(Incremental(Monday2000, EncodeDateTime(2024, 1, 10, 20, 0, 5)));
    // An immediate backup on Wednesday morning is complete as well: it is the day.
    EXPECT_FALSE(Incremental(Monday2000, EncodeDateTime(2024, 1, 10, 7, 0, 0)));
}

TEST_F(WeeklyRuleTest, ProgramOffFromTuesdayToThursdayMakesThursdayComplete) {
    EXPECT_FALSE(Incremental(Monday2000, EncodeDateTime(2024, 1, 11, 20, 0, 5)));
    // Also before Thursday's time of day: Wednesday 20:00 has passed.
    EXPECT_FALSE(Incremental(Monday2000, EncodeDateTime(2024, 1, 11, 8, 0, 0)));
}

TEST_F(WeeklyRuleTest, AfterWednesdaysCompleteBackupThursdayIsIncremental) {
    const TDateTime wednesday = EncodeDateTime(2024, 1, 10, 20, 0, 0);
    EXPECT_TRUE(Incremental(wednesday, EncodeDateTime(2024, 1, 11, 20, 0, 5)));
    EXPECT_TRUE(Incremental(wednesday, EncodeDateTime(2024, 1, 16, 20, 0, 5)));  // Tuesday
    EXPECT_FALSE(Incremental(wednesday, EncodeDateTime(2024, 1, 17, 20, 0, 5)));
}

TEST_F(WeeklyRuleTest, NoSuccessfulBackupMeansComplete) {
    EXPECT_FALSE(Incremental(100.0, EncodeDateTime(2024, 1, 9, 20, 0, 5)));
    EXPECT_FALSE(Incremental(0.0, EncodeDateTime(2024, 1, 9, 20, 0, 5)));
    EXPECT_FALSE(Incremental(-1e12, EncodeDateTime(2024, 1, 9, 20, 0, 5)));
}

TEST(CompleteOrIncrementalTest, OtherKindsAlwaysComplete) {
    const TDateTime last = EncodeDateTime(2024, 1, 8, 20, 0, 0);
    const TDateTime now = EncodeDateTime(2024, 1, 9, 20, 0, 5);
    EXPECT_FALSE(IncrementalRunAllowed(bkFull, 3, 1, At2000, last, now));
    EXPECT_FALSE(IncrementalRunAllowed(static_cast<TBackupKind>(7), 3, 1, At2000, last, now));
}

TEST(CompleteOrIncrementalTest, ADayThatNeverComesNeverForcesACompleteBackup) {
    // Week day 9 or month day 0 (an edited options file) cannot occur; a long walk would
    // find nothing, so it is not taken.
    const TDateTime now = EncodeDateTime(2024, 1, 9, 20, 0, 5);
    EXPECT_TRUE(IncrementalRunAllowed(bkIncWeek, 9, 0, At2000, 100.0, now));
    EXPECT_TRUE(IncrementalRunAllowed(bkIncMonth, 0, 0, At2000, -1e12, now));
    EXPECT_TRUE(
        IncrementalRunAllowed(bkIncMonth, 0, 32, At2000, EncodeDate(2024, 1, 1) + At2000, now));
}

TEST(CompleteOrIncrementalTest, MonthDay31CompleteOnlyInMonthsThatHaveOne) {
    // Daily runs through a leap year, each a few seconds after the slot.
    std::vector<int> completeMonths;
    TDateTime lastRun = EncodeDateTime(2023, 12, 31, 20, 0, 0);
    for (TDateTime day = EncodeDate(2024, 1, 1); day <= EncodeDate(2024, 12, 31); day += 1.0) {
        const TDateTime now = day + At2000 + 5 * Minute / 60;
        if (!IncrementalRunAllowed(bkIncMonth, 0, 31, At2000, lastRun, now)) {
            const TDateParts parts = DecodeDate(now);
            EXPECT_EQ(parts.Day, 31) << Show(now);
            completeMonths.push_back(parts.Month);
        }
        lastRun = now;
    }
    EXPECT_EQ(completeMonths, (std::vector<int>{1, 3, 5, 7, 8, 10, 12}));
}

TEST(CompleteOrIncrementalTest, MonthlyRunAfterAMissedThirtyFirstIsComplete) {
    // Off from 30 March to 2 April: the 31st's slot passed, so 2 April is complete.
    const TDateTime last = EncodeDateTime(2024, 3, 29, 20, 0, 0);
    EXPECT_FALSE(IncrementalRunAllowed(bkIncMonth, 0, 31, At2000, last,
                                       EncodeDateTime(2024, 4, 2, 9, 0, 0)));
    // Off over February (no 31st): the run on 1 March stays incremental.
    EXPECT_TRUE(IncrementalRunAllowed(bkIncMonth, 0, 31, At2000,
                                      EncodeDateTime(2024, 2, 1, 20, 0, 0),
                                      EncodeDateTime(2024, 3, 1, 20, 0, 5)));
}

}  // namespace
}  // namespace sejfko
