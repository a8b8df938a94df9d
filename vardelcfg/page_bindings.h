#pragma once
// The editor's ten pages as data: which control edits which stored value,
// of which kind, with which range. Load and Store of every page walk this
// one table; the widgets are found by the control name (their objectName,
// which is the stored value's name). A page's controls are held as
// ControlValues: what the widgets show, apart from the widgets.
// Constant data and pure functions; any thread.
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "common/setting_names.h"

namespace vardel {

class BackupSet;
class GeneralSettings;

inline constexpr int kPageCount = 10;
inline constexpr int kFirstSetPage = 5;
enum PageIndex : int {
    PAGE_LOGS = 0,
    PAGE_USER_INTERACTION = 1,
    PAGE_COMPRESSION_SECURITY = 2,
    PAGE_VALIDATION_LOCKING = 3,
    PAGE_SERVERS = 4,
    PAGE_BACKUP_TYPE = 5,
    PAGE_DESTINATION = 6,
    PAGE_SCHEDULING = 7,
    PAGE_FILES = 8,
    PAGE_ACTIONS = 9,
};

// The tree label and frame caption of page `page` ("Logs" ... "Actions").
const char* page_label(int page);
inline bool is_set_page(int page) {
    return page >= kFirstSetPage && page < kPageCount;
}
// Help context: 210 + 10 x page, 200 out of range.
int page_help_context(int page);
// The "<- Prev" / "Next ->" steps, within the page's group of five.
int previous_page(int page);
int next_page(int page);

enum class ControlKind {
    Check,        // bool
    Text,         // string
    Password,     // string, masked
    Number,       // int32 within [min, max]
    Choice,       // int32: the index of a name of `choices`
    Lines,        // string, lines joined by "\r\n"; empty lines dropped on Store
    Time,         // int32 seconds after midnight
    Repeat,       // string: the repeat field's text
    Weekdays,     // string of 7, '+' for a selected day
    MonthDays,    // string of 31, '+' for a chosen day
    SetName,      // string: the set's name
    Destination,  // string; Store also makes the destination a directory
};

struct PageBinding {
    int page;
    const char* control;  // objectName; the stored value's name ("Name" for the set's name)
    ControlKind kind;
    int32_t min = 0;  // Number: the range clamped on leaving the field
    int32_t max = 0;
    int32_t store_min = INT32_MIN;  // Number: a lower value is stored as this
    const NameTable* choices = nullptr;
};

// Every binding, page by page, in the order of the page's controls.
std::span<const PageBinding> page_bindings();
std::span<const PageBinding> page_bindings(int page);
const PageBinding* find_binding(int page, std::string_view control);

using ControlValue = std::variant<bool, int32_t, std::string>;
using ControlValues = std::map<std::string, ControlValue, std::less<>>;

// What the page's controls show for the record: GeneralSettings for pages 0
// to 4, the set for pages 5 to 9 (which must then not be null). An empty log
// path is shown as the default folder under `data_path`; *defaulted then
// tells the caller to mark the settings modified.
ControlValues load_page(int page, const GeneralSettings& general, const BackupSet* set,
                        std::string_view data_path = {}, bool* defaulted = nullptr);
// Copies the controls back into the same record with the page's store
// rules. Controls missing from `values` leave their value as it is.
void store_page(int page, const ControlValues& values, GeneralSettings& general, BackupSet* set);

// Which controls a page enables and shows, following the page's other
// controls (a check box enabling its address field, the lock level "None"
// disabling the lock options, the interval type choosing the day controls).
// Only the controls that follow others are listed; buttons have their own
// names ("LogFilePathBrowse").
struct ControlState {
    bool enabled = true;
    bool visible = true;
    bool operator==(const ControlState&) const = default;
};
std::map<std::string, ControlState, std::less<>> control_states(int page,
                                                                const ControlValues& values);

// Typed reads of a ControlValues, with a fallback for a missing or
// differently typed entry.
bool value_flag(const ControlValues& v, std::string_view control, bool fallback = false);
int32_t value_number(const ControlValues& v, std::string_view control, int32_t fallback = 0);
std::string value_text(const ControlValues& v, std::string_view control,
                       std::string_view fallback = {});

}  // namespace vardel
