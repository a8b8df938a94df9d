#include "common/setting_names.h"

#include "common/text_helpers.h"

namespace vardel {

const char* NameTable::name(int32_t number) const {
    if (number < 0 || static_cast<size_t>(number) >= count_) return nullptr;
    return names_[number];
}

const char* NameTable::name_or(int32_t number, const char* fallback) const {
    const char* n = name(number);
    return n ? n : fallback;
}

int32_t NameTable::index_of(std::string_view name) const {
    for (size_t i = 0; i < count_; ++i)
        if (iequals(name, names_[i])) return static_cast<int32_t>(i);
    return -1;
}

namespace setting_names {

namespace {
const char* const weekdays[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                "Friday", "Saturday", "Sunday"};
const char* const backup_types[] = {"Full", "Incremental", "Differential"};
const char* const encryption_levels[] = {"Hash", "Low Encryption", "High Encryption"};
const char* const click_actions[] = {"Edit Settings", "Show Schedule", "Start a Backup",
                                     "Show Status"};
const char* const lock_levels[] = {"Exclusive Lock", "Read Lock", "None"};
const char* const lock_failures[] = {"Wait", "Retry Later", "Degrade Lock", "Fail"};
const char* const validation_levels[] = {"None", "Full Readback"};
const char* const change_handlings[] = {"Ignore", "Give Up", "Wait and Retry", "Try Again Later"};
const char* const destination_types[] = {"Server", "Directory"};
const char* const save_formats[] = {"SAF Archive", "ZIP file", "Discrete files"};
const char* const interval_types[] = {"Daily",     "Weekly",   "Monthly",
                                      "On Demand", "On Logon", "On Logoff"};

template <size_t N>
constexpr NameTable table(const char* const (&names)[N]) {
    return NameTable(names, N);
}
}  // namespace

const NameTable kWeekdays = table(weekdays);
const NameTable kBackupTypes = table(backup_types);
const NameTable kEncryptionLevels = table(encryption_levels);
const NameTable kClickActions = table(click_actions);
const NameTable kFileLockLevels = table(lock_levels);
const NameTable kLockFailureHandlings = table(lock_failures);
const NameTable kValidationLevels = table(validation_levels);
const NameTable kChangeHandlings = table(change_handlings);
const NameTable kDestinationTypes = table(destination_types);
const NameTable kSaveFormats = table(save_formats);
const NameTable kIntervalTypes = table(interval_types);

}  // namespace setting_names

}  // namespace vardel
