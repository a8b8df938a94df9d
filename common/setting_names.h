#pragma once
// The number-to-name tables of every enumerated setting: each an ordered
// list of names indexed by the stored number. The editor shows them, the
// settings files write them, the service's messages and the schedule list
// use them. Constant data; any thread.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vardel {

class NameTable {
  public:
    constexpr NameTable(const char* const* names, size_t count) : names_(names), count_(count) {}

    size_t size() const { return count_; }
    // The name of `number`, or nullptr when it is out of range.
    const char* name(int32_t number) const;
    // The name, or `fallback` when out of range.
    const char* name_or(int32_t number, const char* fallback) const;
    // The number of `name` compared without regard to case, or -1.
    int32_t index_of(std::string_view name) const;

    const char* const* begin() const { return names_; }
    const char* const* end() const { return names_ + count_; }

  private:
    const char* const* names_;
    size_t count_;
};

namespace setting_names {

extern const NameTable kWeekdays;              // "Monday" .. "Sunday"
extern const NameTable kBackupTypes;           // BackupType
extern const NameTable kEncryptionLevels;      // EncryptionLevel
extern const NameTable kClickActions;          // ClickAction
extern const NameTable kFileLockLevels;        // FileLockLevel
extern const NameTable kLockFailureHandlings;  // LockFailureHandling
extern const NameTable kValidationLevels;      // FileValidationLevel
extern const NameTable kChangeHandlings;       // FileChangeHandling
extern const NameTable kDestinationTypes;      // BackuDestinationType
extern const NameTable kSaveFormats;           // SaveFormat
extern const NameTable kIntervalTypes;         // IntervalType

}  // namespace setting_names

// The stored numbers, for code that tests them by meaning.
enum BackupTypeNumber : int32_t {
    BACKUP_FULL = 0,
    BACKUP_INCREMENTAL = 1,
    BACKUP_DIFFERENTIAL = 2
};
enum IntervalTypeNumber : int32_t {
    INTERVAL_DAILY = 0,
    INTERVAL_WEEKLY = 1,
    INTERVAL_MONTHLY = 2,
    INTERVAL_ON_DEMAND = 3,
    INTERVAL_ON_LOGON = 4,
    INTERVAL_ON_LOGOFF = 5,
};
enum SaveFormatNumber : int32_t { SAVE_SAF = 0, SAVE_ZIP = 1, SAVE_DISCRETE = 2 };
enum DestinationTypeNumber : int32_t { DESTINATION_SERVER = 0, DESTINATION_DIRECTORY = 1 };
// (Not LOCK_READ: <fcntl.h> has that name.)
enum FileLockLevelNumber : int32_t {
    FILE_LOCK_EXCLUSIVE = 0,
    FILE_LOCK_READ = 1,
    FILE_LOCK_NONE = 2
};
enum LockFailureNumber : int32_t {
    LOCK_FAILURE_WAIT = 0,
    LOCK_FAILURE_RETRY_LATER = 1,
    LOCK_FAILURE_DEGRADE = 2,
    LOCK_FAILURE_FAIL = 3,
};
enum ValidationLevelNumber : int32_t { VALIDATION_NONE = 0, VALIDATION_FULL_READBACK = 1 };
enum ChangeHandlingNumber : int32_t {
    CHANGE_IGNORE = 0,
    CHANGE_GIVE_UP = 1,
    CHANGE_WAIT_AND_RETRY = 2,
    CHANGE_TRY_AGAIN_LATER = 3,
};
enum ClickActionNumber : int32_t {
    CLICK_EDIT_SETTINGS = 0,
    CLICK_SHOW_SCHEDULE = 1,
    CLICK_START_BACKUP = 2,
    CLICK_SHOW_STATUS = 3,
};
enum EncryptionLevelNumber : int32_t {
    ENCRYPTION_HASH = 0,
    ENCRYPTION_LOW = 1,
    ENCRYPTION_HIGH = 2
};

}  // namespace vardel
