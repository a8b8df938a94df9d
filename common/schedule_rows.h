#pragma once
// The text of the two schedule lists: the "General Schedule" rows (one per
// set: its schedule settings) and the "Upcoming" rows (one per coming run).
// Shared by the schedule list program and the editor's schedule dialog, so
// both show a set's schedule in the same words. Pure functions; any thread.
#include <array>
#include <cstdint>
#include <string>

#include "common/backup_set.h"

namespace vardel {

enum class GeneralColumn { Name, Enabled, Type, When, Start, Repeat, Until, Directories };
inline constexpr std::array<const char*, 8> kGeneralColumnHeaders = {
    "Name", "Enabled", "Type", "When", "Start", "Repeat", "Until", "Directories"};

enum class UpcomingColumn { Name, Date, Time, Server, Directories };
inline constexpr std::array<const char*, 5> kUpcomingColumnHeaders = {"Name", "Date", "Time",
                                                                      "Server", "Directories"};

// When the "Repeat" column shows a value: the schedule list shows repeats of
// at least one minute; the editor's dialog any repeat that is not 0 (a
// shorter one then reads "00m").
enum class RepeatShown { FromOneMinute, WhenNotZero };

// One cell of a set's "General Schedule" row. Times of day are
// "%02d:%02d:%02d", repeats "%02dh %02dm" (an hour or more) or "%02dm";
// Start, Repeat and Until stay empty for sets not due by time.
std::string general_cell(const BackupSet& set, GeneralColumn column,
                         RepeatShown repeat = RepeatShown::FromOneMinute);
std::array<std::string, 8> general_row(const BackupSet& set,
                                       RepeatShown repeat = RepeatShown::FromOneMinute);

// One cell of the "Upcoming" row of the run at `local_time` (local seconds)
// of `set`: date "%04d/%02d/%02d", time "%02d:%02d:%02d", the destination.
std::string upcoming_cell(const BackupSet& set, int64_t local_time, UpcomingColumn column);
std::array<std::string, 5> upcoming_row(const BackupSet& set, int64_t local_time);

// The parts, for callers that show one of them elsewhere.
// Days of the month with their suffix as the list writes them: "st" for 1,
// 11, 21 and 31, "nd" for 2, 12, 22, "rd" for 3, 13, 23, else "th".
std::string day_of_month_text(int day);
// The "When" column: the interval type's name; for Weekly the marked
// weekdays, for Monthly the marked days, each joined by ",".
std::string when_text(const BackupSet& set);
// Seconds after midnight as "%02d:%02d:%02d".
std::string time_of_day_text(int64_t seconds);
// A repeat interval as "%02dh %02dm" or "%02dm".
std::string repeat_text(int64_t seconds);
// The non-empty lines of a BackupDirs value joined by ",".
std::string directories_text(const std::string& backup_dirs);

}  // namespace vardel
