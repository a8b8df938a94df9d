#include "common/due_times.h"

#include <gtest/gtest.h>

#include <ctime>

namespace vardel {
namespace {

// Local seconds of a wall-clock moment.
int64_t at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return static_cast<int64_t>(timegm(&tm));
}

ScheduleRule daily(int64_t start, int64_t every = 0, int64_t until = 0) {
    ScheduleRule r;
    r.interval_type = INTERVAL_DAILY;
    r.start_time = start;
    r.repeat_every = every;
    r.repeat_until = until;
    return r;
}

ScheduleRule monthly(std::initializer_list<int> days, int64_t start = 0) {
    ScheduleRule r;
    r.interval_type = INTERVAL_MONTHLY;
    r.start_time = start;
    for (int d : days) r.month_list[d - 1] = '+';
    return r;
}

TEST(DueTimes, DailyRunsTodayWhenStillAheadElseTomorrow) {
    ScheduleRule r = daily(3600);
    EXPECT_EQ(next_due_time(r, at(2026, 3, 10, 0, 30)), at(2026, 3, 10, 1, 0));
    EXPECT_EQ(next_due_time(r, at(2026, 3, 10, 2, 0)), at(2026, 3, 11, 1, 0));
    EXPECT_EQ(next_due_time(r, at(2026, 3, 10, 1, 0)), at(2026, 3, 11, 1, 0));  // not "after" now
    r.enabled = false;
    EXPECT_EQ(next_due_time(r, at(2026, 3, 10, 0, 30)), 0);
}

TEST(DueTimes, RepeatsRunUntilTheirEndThenTheNextDayStartsAgain) {
    ScheduleRule r = daily(8 * 3600, 3600, 10 * 3600);
    EXPECT_EQ(next_due_time(r, at(2026, 3, 10, 9, 30)), at(2026, 3, 10, 10, 0));
    EXPECT_EQ(next_due_time(r, at(2026, 3, 10, 10, 30)), at(2026, 3, 11, 8, 0));
    // A negative repeat would never reach its end: no repeats, no hang.
    ScheduleRule bad = daily(8 * 3600, -60, 10 * 3600);
    EXPECT_EQ(next_due_time(bad, at(2026, 3, 10, 9, 0)), at(2026, 3, 11, 8, 0));
}

TEST(DueTimes, WeeklyFindsTheNextMarkedDay) {
    ScheduleRule r;
    r.interval_type = INTERVAL_WEEKLY;
    r.interval_days = "+------";  // Monday
    r.start_time = 36060;         // 10:01
    int64_t monday = at(2026, 3, 9);
    ASSERT_EQ(weekday_from_monday(monday), 0);
    EXPECT_EQ(next_due_time(r, monday + 10 * 3600), monday + 36060);
    EXPECT_EQ(next_due_time(r, monday + 11 * 3600), monday + 7 * kDay + 36060);
    r.interval_days = "-------";
    EXPECT_EQ(next_due_time(r, monday), 0);
    r.interval_days = "";  // a short list marks nothing, reads nothing beyond
    EXPECT_EQ(next_due_time(r, monday), 0);
}

TEST(DueTimes, MonthlyDaysAreCutToTheMonthAndRollIntoTheNext) {
    EXPECT_EQ(next_due_time(monthly({31}), at(2026, 4, 10, 12)), at(2026, 4, 30));
    EXPECT_EQ(next_due_time(monthly({10}, 13 * 3600), at(2026, 4, 10, 12)), at(2026, 4, 10, 13));
    EXPECT_EQ(next_due_time(monthly({5}), at(2026, 4, 10)), at(2026, 5, 5));
    EXPECT_EQ(next_due_time(monthly({5}), at(2026, 12, 10)), at(2027, 1, 5));
    EXPECT_EQ(next_due_time(monthly({}), at(2026, 4, 10)), 0);
    // February 29 exists in 2028, not in 2100 (divisible by 100) but in 2000.
    EXPECT_EQ(next_due_time(monthly({29}, 60), at(2028, 2, 10)), at(2028, 2, 29, 0, 1));
    EXPECT_EQ(next_due_time(monthly({29}, 60), at(2100, 2, 10)), at(2100, 2, 28, 0, 1));
    EXPECT_EQ(next_due_time(monthly({30}, 60), at(2000, 2, 10)), at(2000, 2, 29, 0, 1));
}

TEST(DueTimes, OnDemandLogonAndLogoffAreNeverDueByTime) {
    for (int type : {int(INTERVAL_ON_DEMAND), int(INTERVAL_ON_LOGON), int(INTERVAL_ON_LOGOFF), 9}) {
        ScheduleRule r = daily(60);
        r.interval_type = type;
        EXPECT_EQ(next_due_time(r, at(2026, 3, 10)), 0) << type;
    }
}

TEST(UpcomingRuns, TheThirtyFirstFallsOnTheLastDayOfShortMonths) {
    ScheduleRule r = monthly({31}, 3600);
    auto runs = upcoming_runs({r}, at(2026, 4, 25));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].time, at(2026, 4, 30, 1, 0));
    runs = upcoming_runs({r}, at(2027, 2, 22));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].time, at(2027, 2, 28, 1, 0));
}

TEST(UpcomingRuns, HourlyRunsForEightDaysLeaveOutTodaysPastOnes) {
    ScheduleRule r = daily(8 * 3600, 3600, 12 * 3600);
    auto runs = upcoming_runs({r}, at(2026, 3, 10, 10, 30));
    // Today 11:00 and 12:00, then five a day for seven days.
    ASSERT_EQ(runs.size(), 2u + 7 * 5);
    EXPECT_EQ(runs.front().time, at(2026, 3, 10, 11, 0));
    EXPECT_EQ(runs[2].time, at(2026, 3, 11, 8, 0));
    EXPECT_EQ(runs.back().time, at(2026, 3, 17, 12, 0));
    for (size_t i = 1; i < runs.size(); ++i) EXPECT_LT(runs[i - 1].time, runs[i].time);
}

TEST(UpcomingRuns, SetsInterleaveByTimeAndDisabledOrOnDemandOnesAreLeftOut) {
    ScheduleRule a = daily(9 * 3600), b = daily(9 * 3600), off = daily(3600), demand = daily(3600);
    off.enabled = false;
    demand.interval_type = INTERVAL_ON_DEMAND;
    auto runs = upcoming_runs({a, off, b, demand}, at(2026, 3, 10, 8));
    ASSERT_EQ(runs.size(), 16u);
    EXPECT_EQ(runs[0].set_index, 0u);  // equal times keep the order found
    EXPECT_EQ(runs[1].set_index, 2u);
}

TEST(UpcomingRuns, TheTableStopsAtItsLimit) {
    ScheduleRule every_minute = daily(0, 60, 86399);
    bool full = false;
    auto runs = upcoming_runs({every_minute}, at(2026, 3, 10), &full);
    EXPECT_TRUE(full);
    EXPECT_EQ(runs.size(), 5000u);
}

}  // namespace
}  // namespace vardel
