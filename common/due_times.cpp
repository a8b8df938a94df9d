#include "common/due_times.h"

#include <ctime>

namespace vardel {

namespace {

struct Date {
    int year, month, day;  // month 1..12
};

Date date_of(int64_t local) {
    time_t t = static_cast<time_t>(local);
    struct tm tm;
    gmtime_r(&t, &tm);
    return Date{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

int64_t midnight_of(Date d) {
    struct tm tm {};
    tm.tm_year = d.year - 1900;
    tm.tm_mon = d.month - 1;
    tm.tm_mday = d.day;
    return static_cast<int64_t>(timegm(&tm));
}

bool marked(const std::string& list, size_t i) {
    return i < list.size() && list[i] == '+';
}

// The scheduler's candidate day at or after `day`, or -1.
int64_t candidate_day(const ScheduleRule& r, int64_t day) {
    switch (r.interval_type) {
        case INTERVAL_DAILY:
            return day;
        case INTERVAL_WEEKLY: {
            int w = weekday_from_monday(day);
            for (int k = 0; k < 7; ++k)
                if (marked(r.interval_days, static_cast<size_t>((w + k) % 7)))
                    return day + k * kDay;
            return -1;
        }
        case INTERVAL_MONTHLY: {
            Date d = date_of(day);
            int m = d.day - 1;
            for (int k = 0; k < 31; ++k) {
                int p = (m + k) % 31;
                if (!marked(r.month_list, static_cast<size_t>(p))) continue;
                Date target = d;
                if (p < m) {
                    target.month = d.month == 12 ? 1 : d.month + 1;
                    if (d.month == 12) ++target.year;
                }
                int len = days_in_month(target.year, target.month);
                target.day = p + 1 > len ? len : p + 1;
                return midnight_of(target);
            }
            return -1;
        }
        default:
            return -1;
    }
}

}  // namespace

ScheduleRule schedule_rule_of(const BackupSet& s) {
    ScheduleRule r;
    r.enabled = s.Enabled;
    r.interval_type = s.IntervalType;
    r.interval_days = s.IntervalDays;
    r.month_list = s.MonthList;
    r.start_time = s.StartTime;
    r.repeat_every = s.RepeatEvery;
    r.repeat_until = s.RepeatUntil;
    return r;
}

bool leap_year(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int days_in_month(int year, int month) {
    switch (month) {
        case 2:
            return leap_year(year) ? 29 : 28;
        case 4:
        case 6:
        case 9:
        case 11:
            return 30;
        default:
            return 31;
    }
}

int weekday_from_monday(int64_t local) {
    // 1970-01-01 was a Thursday (3, counted from Monday).
    int64_t days = local_midnight(local) / kDay;
    return static_cast<int>(((days + 3) % 7 + 7) % 7);
}

void for_each_run_of_day(const ScheduleRule& r, int64_t day,
                         const std::function<bool(int64_t)>& fn) {
    if (!fn(day + r.start_time)) return;
    // A repeat of 0 or less would never pass "until": no repeats.
    if (r.repeat_every <= 0) return;
    for (int64_t e = r.start_time + r.repeat_every; e <= r.repeat_until; e += r.repeat_every)
        if (!fn(day + e)) return;
}

int64_t next_due_time(const ScheduleRule& r, int64_t now) {
    if (!r.enabled) return 0;
    int64_t day = local_midnight(now);
    for (int i = 0; i <= 30; ++i, day += kDay) {
        int64_t d = candidate_day(r, day);
        if (d < 0) continue;
        int64_t result = 0;
        for_each_run_of_day(r, d, [&](int64_t t) {
            if (t > now) {
                result = t;
                return false;
            }
            return true;
        });
        if (result) return result;
    }
    return 0;
}

bool day_qualifies(const ScheduleRule& r, int64_t day) {
    switch (r.interval_type) {
        case INTERVAL_DAILY:
            return true;
        case INTERVAL_WEEKLY:
            return marked(r.interval_days, static_cast<size_t>(weekday_from_monday(day)));
        case INTERVAL_MONTHLY: {
            Date d = date_of(day);
            if (marked(r.month_list, static_cast<size_t>(d.day - 1))) return true;
            if (d.day == days_in_month(d.year, d.month))
                for (int p = d.day - 1; p <= 30; ++p)
                    if (marked(r.month_list, static_cast<size_t>(p))) return true;
            return false;
        }
        default:
            return false;
    }
}

std::vector<UpcomingRun> upcoming_runs(const std::vector<ScheduleRule>& rules, int64_t now,
                                       bool* full, size_t limit) {
    std::vector<UpcomingRun> out;
    if (full) *full = false;
    int64_t d0 = local_midnight(now);
    for (size_t i = 0; i < rules.size(); ++i) {
        const ScheduleRule& r = rules[i];
        if (!r.enabled) continue;
        for (int offset = 0; offset <= 7; ++offset) {
            int64_t day = d0 + offset * kDay;
            if (!day_qualifies(r, day)) continue;
            bool stop = false;
            for_each_run_of_day(r, day, [&](int64_t t) {
                if (t <= now) return true;
                if (out.size() >= limit) {
                    stop = true;
                    return false;
                }
                auto at = out.begin();
                while (at != out.end() && at->time <= t) ++at;
                out.insert(at, UpcomingRun{t, i});
                return true;
            });
            if (stop) {
                if (full) *full = true;
                return out;
            }
        }
    }
    return out;
}

}  // namespace vardel
