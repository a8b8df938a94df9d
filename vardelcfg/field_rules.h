#pragma once
// The rules of the editor's single fields, apart from any widget: number
// ranges, the repeat text, times of day, the weekday and month-day lists,
// the default log folder, set names and the overlap question of the
// include list. Pure functions; any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/registry.h"

namespace vardel {

class BackupSetTable;

// A number field's value brought into [min, max]; none when it already was.
std::optional<int32_t> clamp_to_range(int32_t value, int32_t min, int32_t max);

// The repeat interval as the field shows it: "" for 0, "%d" minutes below
// an hour, "%d:%.02d" (hours, minutes) from an hour on.
std::string format_repeat(int32_t seconds);
// The field's text back to seconds: "h:m" or a number of minutes; missing
// or non-numeric parts count 0.
int32_t parse_repeat(std::string_view text);
// Empty, or digits, optionally ':' and digits, nothing else.
bool repeat_text_valid(std::string_view text);
inline constexpr const char* kRepeatInvalid = "Repeat value must be a number or a '##:##' value";

// The weekday list's stored form: '+' for a chosen day, a blank otherwise.
std::string store_weekdays(std::string_view chosen);
// Whether day i (0-based) is chosen in a stored day list.
inline bool day_chosen(std::string_view list, size_t i) {
    return i < list.size() && list[i] == '+';
}
// Flips day `day` (1..31) of a month list, padding a short list with '-'.
std::string flip_month_day(std::string_view list, int day);

// The log folder proposed for an empty "Logfile path": the data folder,
// one "/", then "logs/".
std::string default_log_path(std::string_view data_path);
// "DataPath" of the product key; when missing, the folder of the settings
// store (the suite's own data folder).
std::string suite_data_path(const registry::Store& store);

// The lines of a multi-line field without the empty ones, joined by "\r\n".
std::string without_empty_lines(std::string_view text);
std::vector<std::string> split_lines(std::string_view text);

// Why `name` cannot be the name of the set at `index` of `sets` (a registry
// key, a lock file and a shortcut name), or none when it can: it must not
// be empty, hold "/", "\\" or a control character, or equal another set's
// name without regard to case.
std::optional<std::string> set_name_problem(const BackupSetTable& sets, size_t index,
                                            std::string_view name);

// One question of the include list's "Browse": `parent` holds `child`.
struct OverlapQuestion {
    std::string parent;
    std::string child;
    std::string added;
    std::string text() const;  // "Item '%s' is a parent node of '%s'. ..."
};
inline constexpr const char* kOverlapCaption = "Overlapped items";
// The questions to ask, in list order, before `added` joins `lines`: one for
// each line that is a folder above it, or below it. Paths compare exactly
// and by whole components ("/data" is no parent of "/database").
std::vector<OverlapQuestion> include_overlaps(std::string_view lines, std::string_view added);
// The list with `line` appended as its last line.
std::string append_line(std::string_view lines, std::string_view line);

}  // namespace vardel
