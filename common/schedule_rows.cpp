#include "common/schedule_rows.h"

#include <ctime>

#include "common/setting_names.h"
#include "common/text_helpers.h"

namespace vardel {

namespace {

bool due_by_time(const BackupSet& s) {
    return s.IntervalType == INTERVAL_DAILY || s.IntervalType == INTERVAL_WEEKLY ||
           s.IntervalType == INTERVAL_MONTHLY;
}

// Each position of `marks` holding '+' becomes name(position), joined by ",".
template <typename Name>
std::string marked_list(const std::string& marks, size_t count, Name name) {
    std::string out;
    for (size_t i = 0; i < count && i < marks.size(); ++i) {
        if (marks[i] != '+') continue;
        if (!out.empty()) out += ',';
        out += name(i);
    }
    return out;
}

struct tm calendar_of(int64_t local_time) {
    time_t t = static_cast<time_t>(local_time);
    struct tm tm {};
    gmtime_r(&t, &tm);
    return tm;
}

}  // namespace

std::string day_of_month_text(int day) {
    // By the last digit alone, so 11, 12 and 13 read "11st", "12nd", "13rd"
    // as the list has always written them.
    static const char* const suffixes[] = {"th", "st", "nd", "rd"};
    int last = day % 10;
    return strprintf("%d%s", day, suffixes[last >= 1 && last <= 3 ? last : 0]);
}

std::string when_text(const BackupSet& s) {
    switch (s.IntervalType) {
        case INTERVAL_WEEKLY:
            return marked_list(s.IntervalDays, 7, [](size_t i) {
                return std::string(setting_names::kWeekdays.name(static_cast<int32_t>(i)));
            });
        case INTERVAL_MONTHLY:
            return marked_list(s.MonthList, 31,
                               [](size_t i) { return day_of_month_text(static_cast<int>(i) + 1); });
        default:
            return setting_names::kIntervalTypes.name_or(s.IntervalType, "");
    }
}

std::string time_of_day_text(int64_t seconds) {
    return strprintf("%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                     static_cast<long long>(seconds / 60 % 60),
                     static_cast<long long>(seconds % 60));
}

std::string repeat_text(int64_t seconds) {
    long long minutes = seconds / 60;
    if (minutes >= 60) return strprintf("%02lldh %02lldm", minutes / 60, minutes % 60);
    return strprintf("%02lldm", minutes);
}

std::string directories_text(const std::string& dirs) {
    std::string out;
    for_each_line(dirs, [&](std::string_view line) {
        if (line.empty()) return true;
        if (!out.empty()) out += ',';
        out += line;
        return true;
    });
    return out;
}

std::string general_cell(const BackupSet& s, GeneralColumn column, RepeatShown repeat) {
    switch (column) {
        case GeneralColumn::Name:
            return s.Name;
        case GeneralColumn::Enabled:
            return s.Enabled ? "Y" : "N";
        case GeneralColumn::Type:
            return setting_names::kBackupTypes.name_or(s.BackupType, "");
        case GeneralColumn::When:
            return when_text(s);
        case GeneralColumn::Start:
            return due_by_time(s) ? time_of_day_text(s.StartTime) : std::string();
        case GeneralColumn::Repeat: {
            bool shown =
                repeat == RepeatShown::FromOneMinute ? s.RepeatEvery >= 60 : s.RepeatEvery != 0;
            return due_by_time(s) && shown ? repeat_text(s.RepeatEvery) : std::string();
        }
        case GeneralColumn::Until:
            return due_by_time(s) && s.RepeatEvery != 0 ? time_of_day_text(s.RepeatUntil)
                                                        : std::string();
        case GeneralColumn::Directories:
            return directories_text(s.BackupDirs);
    }
    return {};
}

std::array<std::string, 8> general_row(const BackupSet& s, RepeatShown repeat) {
    std::array<std::string, 8> row;
    for (size_t i = 0; i < row.size(); ++i)
        row[i] = general_cell(s, static_cast<GeneralColumn>(i), repeat);
    return row;
}

std::string upcoming_cell(const BackupSet& s, int64_t local_time, UpcomingColumn column) {
    switch (column) {
        case UpcomingColumn::Name:
            return s.Name;
        case UpcomingColumn::Date: {
            struct tm tm = calendar_of(local_time);
            return strprintf("%04d/%02d/%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
        }
        case UpcomingColumn::Time: {
            struct tm tm = calendar_of(local_time);
            return strprintf("%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
        }
        case UpcomingColumn::Server:
            return s.BackupDestination;
        case UpcomingColumn::Directories:
            return directories_text(s.BackupDirs);
    }
    return {};
}

std::array<std::string, 5> upcoming_row(const BackupSet& s, int64_t local_time) {
    std::array<std::string, 5> row;
    for (size_t i = 0; i < row.size(); ++i)
        row[i] = upcoming_cell(s, local_time, static_cast<UpcomingColumn>(i));
    return row;
}

}  // namespace vardel
