#pragma once
// One backup set: every value of the set's subkey of "backupsets", with the
// subkey's name as `Name`. The members carry the stored value names (so
// `BackuDestinationType` keeps the stored spelling, without the "p").
//
// A plain value: copying copies every field (the scheduler and a backup run
// keep copies of their own). No locks; one thread at a time.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/setting_field.h"

namespace vardel {

class BackupSet {
  public:
    BackupSet();  // every field at its default

    std::string Name;    // the subkey's name; unique without regard to case
    int32_t BackupType;  // setting_names::kBackupTypes
    int32_t BackupsPerCycle;
    int32_t CyclesToSave;
    int32_t BackuDestinationType;  // setting_names::kDestinationTypes
    std::string BackupDestination;
    int32_t RequestedClientPriority;
    int32_t BackupThreadPriority;
    int32_t IntervalType;      // setting_names::kIntervalTypes
    std::string IntervalDays;  // 7 characters, Monday first, '+' chosen
    std::string MonthList;     // 31 characters, day 1 first, '+' chosen
    int32_t StartTime;         // seconds after midnight
    int32_t RepeatEvery;       // seconds; 0 = no repeats
    int32_t RepeatUntil;       // seconds after midnight
    bool Enabled;
    std::string BackupDirs;  // lines joined by "\r\n"
    std::string IncludeMasks;
    std::string ExcludeMasks;
    std::string ExcludeFiles;
    bool IncludeSystemFiles;
    bool IncludeHiddenFiles;
    bool UseArchiveBit;
    bool TrackDeletedFiles;
    int32_t SaveFormat;  // setting_names::kSaveFormats
    bool SaveOwnershipInfo;
    bool SavePathInfo;
    bool PasswordEncode;
    std::string ExecuteBeforeStart;
    std::string ExecuteOnSuccess;
    std::string ExecuteOnFailure;

    // The stored values in the order they are read and written (not Name).
    static SettingFields<BackupSet> fields();

    // Every field to its default, Name to "".
    void reset();
    // Reset, then read every value from the subkey `name` of "backupsets";
    // `name` becomes Name. MyError NOT_FOUND "Registry path not found" when
    // the subkey is missing, BAD_DATA for a value of the wrong type; on any
    // failure this set is left as it was. Reads one snapshot of the store
    // (this process's when none is given).
    void load(std::string_view name, const registry::Store& store);
    void load(std::string_view name);
    // Creates the set's subkey (when missing) and writes every value, all in
    // one transaction (or within the caller's). MyError OPERATION_FAILED
    // "Registry path not found" when the subkey cannot be created, which
    // includes a Name that is empty or holds a "\\" (it would not be one
    // subkey); "Could not set registry value" when a write is refused;
    // INVALID_PARAMETERS for an unstorable password.
    void save(const registry::Store& store) const;
    void save() const;

    bool operator==(const BackupSet&) const = default;
};

}  // namespace vardel
