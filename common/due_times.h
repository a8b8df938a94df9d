#pragma once
// The day and time rules of the schedule, shared by the service's scheduler,
// the schedule list and the editor's schedule dialog: which days a set runs
// on and at which times of such a day. Times are local seconds (seconds since 1970 on the local
// wall clock; taken apart as UTC they give the local date and time). Pure functions; thread-safe.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/backup_set.h"
#include "common/setting_names.h"

namespace vardel {

// The schedule fields of a backup set.
struct ScheduleRule {
    bool enabled = true;
    int interval_type = INTERVAL_DAILY;
    std::string interval_days = "-------";          // Monday first, '+' marks a day
    std::string month_list = std::string(31, '-');  // day 1 first
    int64_t start_time = 0;                         // seconds after midnight
    int64_t repeat_every = 0;                       // seconds; 0 (or less) = no repeats
    int64_t repeat_until = 0;                       // seconds after midnight of the latest repeat
};

// The schedule fields of `set`.
ScheduleRule schedule_rule_of(const BackupSet& set);

inline constexpr int64_t kDay = 86400;
inline int64_t local_midnight(int64_t t) {
    return t - ((t % kDay) + kDay) % kDay;
}
// Monday = 0 ... Sunday = 6.
int weekday_from_monday(int64_t local_seconds);
int days_in_month(int year, int month);  // month 1..12
bool leap_year(int year);

// Calls fn with each run time of the day starting at local midnight D, in
// order: D + start, then each repeat while its offset stays within
// repeat_until. Stops early when fn returns false.
void for_each_run_of_day(const ScheduleRule& rule, int64_t day,
                         const std::function<bool(int64_t)>& fn);

// The scheduler's next due time after `now` over 31 days, or 0 when the set
// is not enabled or not due within them.
int64_t next_due_time(const ScheduleRule& rule, int64_t now);

// Whether the schedule list shows runs of `rule` on the day D (a Monthly
// day past the month's end falls on its last day).
bool day_qualifies(const ScheduleRule& rule, int64_t day);

struct UpcomingRun {
    int64_t time;  // local seconds
    size_t set_index;
};

// Every run later than `now` from today through the seventh day after, in
// time order (equal times in the order found), for the enabled rules in
// order. More than `limit` runs: the first `limit` found are kept and
// `*full` is set.
std::vector<UpcomingRun> upcoming_runs(const std::vector<ScheduleRule>& rules, int64_t now,
                                       bool* full = nullptr, size_t limit = 5000);

}  // namespace vardel
