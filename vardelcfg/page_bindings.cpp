#include "vardelcfg/page_bindings.h"

#include "common/backup_set.h"
#include "common/general_settings.h"
#include "common/setting_field.h"
#include "common/text_helpers.h"
#include "vardelcfg/field_rules.h"

namespace vardel {

namespace {

using K = ControlKind;
namespace n = setting_names;

const char* const kPageLabels[kPageCount] = {
    "Logs",
    "User Interaction",
    "Compression and Security",
    "Validation and Locking",
    "Servers",
    "Backup Type",
    "Backup Destination",
    "Scheduling",
    "Files and Directories",
    "Actions",
};

constexpr PageBinding choice(int page, const char* control, const NameTable* names) {
    return {page, control, K::Choice, 0, 0, INT32_MIN, names};
}

const PageBinding kBindings[] = {
    {PAGE_LOGS, "WriteLogsToFile", K::Check},
    {PAGE_LOGS, "LogFilePath", K::Text},
    {PAGE_LOGS, "CycleLogDays", K::Number, 1, 365, 1},
    {PAGE_LOGS, "CycleLogSize", K::Number, 1, 10000, 1},
    {PAGE_LOGS, "KeepNLogs", K::Number, 0, 99, 1},
    {PAGE_LOGS, "MailOldLog", K::Check},
    {PAGE_LOGS, "MailLogEmail", K::Text},

    {PAGE_USER_INTERACTION, "WarnUserWhenBackupStarts", K::Check},
    {PAGE_USER_INTERACTION, "WarnOfActiveBackup", K::Check},
    {PAGE_USER_INTERACTION, "SendEmailOnCompletion", K::Check},
    {PAGE_USER_INTERACTION, "CompletionEmail", K::Text},
    choice(PAGE_USER_INTERACTION, "ClickAction", &n::kClickActions),

    {PAGE_COMPRESSION_SECURITY, "EncodingPassword", K::Password},
    {PAGE_COMPRESSION_SECURITY, "ShareLogin", K::Text},
    {PAGE_COMPRESSION_SECURITY, "SharePassword", K::Password},

    choice(PAGE_VALIDATION_LOCKING, "FileLockLevel", &n::kFileLockLevels),
    choice(PAGE_VALIDATION_LOCKING, "LockFailureHandling", &n::kLockFailureHandlings),
    {PAGE_VALIDATION_LOCKING, "RetryLockTimes", K::Number, 0, 1000},
    {PAGE_VALIDATION_LOCKING, "WaitForLock", K::Number, 1, 60},
    {PAGE_VALIDATION_LOCKING, "SmartLocking", K::Check},
    choice(PAGE_VALIDATION_LOCKING, "FileValidationLevel", &n::kValidationLevels),
    choice(PAGE_VALIDATION_LOCKING, "FileChangeHandling", &n::kChangeHandlings),
    {PAGE_VALIDATION_LOCKING, "FileChangeRetries", K::Number, 0, 1000},

    {PAGE_SERVERS, "SMTPHost", K::Text},
    {PAGE_SERVERS, "FromEmail", K::Text},

    {PAGE_BACKUP_TYPE, "Name", K::SetName},
    choice(PAGE_BACKUP_TYPE, "BackupType", &n::kBackupTypes),
    {PAGE_BACKUP_TYPE, "BackupsPerCycle", K::Number, 1, 1000},
    {PAGE_BACKUP_TYPE, "CyclesToSave", K::Number, 1, 1000},

    {PAGE_DESTINATION, "BackupDestination", K::Destination},
    {PAGE_DESTINATION, "BackupThreadPriority", K::Number, -3, 3},
    choice(PAGE_DESTINATION, "SaveFormat", &n::kSaveFormats),
    {PAGE_DESTINATION, "PasswordEncode", K::Check},

    choice(PAGE_SCHEDULING, "IntervalType", &n::kIntervalTypes),
    {PAGE_SCHEDULING, "IntervalDays", K::Weekdays},
    {PAGE_SCHEDULING, "MonthList", K::MonthDays},
    {PAGE_SCHEDULING, "StartTime", K::Time},
    {PAGE_SCHEDULING, "RepeatEvery", K::Repeat},
    {PAGE_SCHEDULING, "RepeatUntil", K::Time},
    {PAGE_SCHEDULING, "Enabled", K::Check},

    {PAGE_FILES, "BackupDirs", K::Lines},
    {PAGE_FILES, "ExcludeFiles", K::Lines},
    {PAGE_FILES, "IncludeMasks", K::Lines},
    {PAGE_FILES, "ExcludeMasks", K::Lines},
    {PAGE_FILES, "IncludeSystemFiles", K::Check},
    {PAGE_FILES, "IncludeHiddenFiles", K::Check},
    {PAGE_FILES, "UseArchiveBit", K::Check},
    {PAGE_FILES, "TrackDeletedFiles", K::Check},

    {PAGE_ACTIONS, "ExecuteBeforeStart", K::Text},
    {PAGE_ACTIONS, "ExecuteOnSuccess", K::Text},
    {PAGE_ACTIONS, "ExecuteOnFailure", K::Text},
};

template <class Record>
ControlValue load_value(const PageBinding& b, const Record& r) {
    const SettingField<Record>* f = find_field(Record::fields(), b.control);
    if (!f) return std::string();  // a binding without a stored value: a table error
    switch (b.kind) {
        case K::Check:
            return r.*f->flag;
        case K::Number:
        case K::Choice:
        case K::Time:
            return r.*f->number;
        case K::Repeat:
            return format_repeat(r.*f->number);
        default:
            return r.*f->text;
    }
}

template <class Record>
void store_value(const PageBinding& b, const ControlValue& v, Record& r) {
    const SettingField<Record>* f = find_field(Record::fields(), b.control);
    if (!f) return;
    switch (b.kind) {
        case K::Check:
            if (auto* p = std::get_if<bool>(&v)) r.*f->flag = *p;
            return;
        case K::Number:
            if (auto* p = std::get_if<int32_t>(&v))
                r.*f->number = *p < b.store_min ? b.store_min : *p;
            return;
        case K::Choice:
        case K::Time:
            if (auto* p = std::get_if<int32_t>(&v)) r.*f->number = *p;
            return;
        default:
            break;
    }
    const std::string* text = std::get_if<std::string>(&v);
    if (!text) return;
    switch (b.kind) {
        case K::Repeat:
            r.*f->number = parse_repeat(*text);
            return;
        case K::Lines:
            r.*f->text = without_empty_lines(*text);
            return;
        case K::Weekdays:
            r.*f->text = store_weekdays(*text);
            return;
        case K::MonthDays: {
            std::string days = text->substr(0, 31);
            days.resize(31, '-');
            r.*f->text = days;
            return;
        }
        default:
            r.*f->text = *text;
            return;
    }
}

}  // namespace

const char* page_label(int page) {
    return page >= 0 && page < kPageCount ? kPageLabels[page] : "";
}

int page_help_context(int page) {
    return page >= 0 && page < kPageCount ? 210 + 10 * page : 200;
}

int previous_page(int page) {
    return page < kFirstSetPage ? (page + 4) % 5 : ((page - 1) % 5) + kFirstSetPage;
}

int next_page(int page) {
    return page < kFirstSetPage ? (page + 1) % 5 : ((page + 1) % 5) + kFirstSetPage;
}

std::span<const PageBinding> page_bindings() {
    return kBindings;
}

std::span<const PageBinding> page_bindings(int page) {
    std::span<const PageBinding> all = kBindings;
    size_t first = 0;
    while (first < all.size() && all[first].page != page) ++first;
    size_t last = first;
    while (last < all.size() && all[last].page == page) ++last;
    return all.subspan(first, last - first);
}

const PageBinding* find_binding(int page, std::string_view control) {
    for (const PageBinding& b : page_bindings(page))
        if (b.control == control) return &b;
    return nullptr;
}

ControlValues load_page(int page, const GeneralSettings& general, const BackupSet* set,
                        std::string_view data_path, bool* defaulted) {
    ControlValues values;
    if (defaulted) *defaulted = false;
    for (const PageBinding& b : page_bindings(page)) {
        if (b.kind == K::SetName)
            values[b.control] = set->Name;
        else if (is_set_page(page))
            values[b.control] = load_value(b, *set);
        else
            values[b.control] = load_value(b, general);
    }
    if (page == PAGE_LOGS && value_text(values, "LogFilePath").empty()) {
        values["LogFilePath"] = default_log_path(data_path);
        if (defaulted) *defaulted = true;
    }
    return values;
}

void store_page(int page, const ControlValues& values, GeneralSettings& general, BackupSet* set) {
    for (const PageBinding& b : page_bindings(page)) {
        auto it = values.find(b.control);
        if (it == values.end()) continue;
        if (b.kind == K::SetName) {
            // A change of letter case alone is no new name: names compare
            // without regard to case, and the key keeps its spelling.
            const std::string* name = std::get_if<std::string>(&it->second);
            if (name && !iequals(*name, set->Name)) set->Name = *name;
        } else if (is_set_page(page)) {
            store_value(b, it->second, *set);
            if (b.kind == K::Destination) set->BackuDestinationType = DESTINATION_DIRECTORY;
        } else {
            store_value(b, it->second, general);
        }
    }
}

std::map<std::string, ControlState, std::less<>> control_states(int page, const ControlValues& v) {
    std::map<std::string, ControlState, std::less<>> s;
    auto enable = [&](std::initializer_list<const char*> names, bool on) {
        for (const char* name : names) s[name].enabled = on;
    };
    switch (page) {
        case PAGE_LOGS:
            enable(
                {"LogFilePath", "LogFilePathBrowse", "CycleLogDays", "CycleLogSize", "KeepNLogs"},
                value_flag(v, "WriteLogsToFile"));
            enable({"MailLogEmail"}, value_flag(v, "MailOldLog"));
            break;
        case PAGE_USER_INTERACTION:
            enable({"CompletionEmail"}, value_flag(v, "SendEmailOnCompletion"));
            break;
        case PAGE_VALIDATION_LOCKING:
            enable({"LockFailureHandling", "RetryLockTimes", "WaitForLock", "SmartLocking"},
                   value_number(v, "FileLockLevel") != FILE_LOCK_NONE);
            enable({"FileChangeRetries"}, value_number(v, "FileChangeHandling") != CHANGE_IGNORE);
            break;
        case PAGE_BACKUP_TYPE:
            enable({"BackupsPerCycle"}, value_number(v, "BackupType") != BACKUP_FULL);
            break;
        case PAGE_SCHEDULING: {
            int32_t interval = value_number(v, "IntervalType");
            bool timed = interval == INTERVAL_DAILY || interval == INTERVAL_WEEKLY ||
                         interval == INTERVAL_MONTHLY;
            enable({"StartTime", "RepeatEvery"}, timed);
            enable({"RepeatUntil"}, timed && !value_text(v, "RepeatEvery").empty());
            s["IntervalDays"].visible = interval == INTERVAL_WEEKLY;
            s["MonthList"].visible = interval == INTERVAL_MONTHLY;
            break;
        }
        default:
            break;
    }
    return s;
}

bool value_flag(const ControlValues& v, std::string_view control, bool fallback) {
    auto it = v.find(control);
    if (it == v.end()) return fallback;
    const bool* p = std::get_if<bool>(&it->second);
    return p ? *p : fallback;
}

int32_t value_number(const ControlValues& v, std::string_view control, int32_t fallback) {
    auto it = v.find(control);
    if (it == v.end()) return fallback;
    const int32_t* p = std::get_if<int32_t>(&it->second);
    return p ? *p : fallback;
}

std::string value_text(const ControlValues& v, std::string_view control,
                       std::string_view fallback) {
    auto it = v.find(control);
    if (it == v.end()) return std::string(fallback);
    const std::string* p = std::get_if<std::string>(&it->second);
    return p ? *p : std::string(fallback);
}

}  // namespace vardel
