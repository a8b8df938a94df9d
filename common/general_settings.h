#pragma once
// The suite-wide settings: every value directly under the product key, and
// the table of backup sets below its "backupsets" key. The members carry the
// stored value names.
//
// load() and save() each work on one transaction of the settings store: a
// load sees the settings as one save left them, never half of one save and
// half of another, and a save lands whole or not at all. A failed load
// leaves this object as it was.
//
// The two passwords (EncodingPassword, SharePassword) are kept apart, in
// "secrets.db" beside the settings store, readable by its owner alone: an
// account that may not read it loads them empty. A store written before
// keeps them among the settings until its first save moves them.
//
// A plain value: copying copies every set. No locks; one thread at a time
// (in the service, the control thread).
#include <cstdint>
#include <string>

#include "common/backup_set_table.h"
#include "common/setting_field.h"

namespace vardel {

class GeneralSettings {
  public:
    GeneralSettings();  // every field at its default, an empty table of 12 slots

    bool WriteLogsToFile;
    std::string LogFilePath;
    int32_t CycleLogDays;
    int32_t CycleLogSize;  // kilobytes
    int32_t KeepNLogs;
    bool MailOldLog;
    std::string MailLogEmail;
    bool WarnUserWhenBackupStarts;
    bool OnlyStartIfLoggedOff;
    bool WarnOfActiveBackup;
    bool SendEmailOnCompletion;
    std::string CompletionEmail;
    int32_t GiveUpIfNotLoggedOff;
    bool CompressBackupStream;
    bool EncryptBackupStream;
    int32_t EncryptionLevel;       // setting_names::kEncryptionLevels
    std::string EncodingPassword;  // plain; scrambled only in the store
    int32_t FileLockLevel;         // setting_names::kFileLockLevels
    int32_t LockFailureHandling;   // setting_names::kLockFailureHandlings
    int32_t RetryLockTimes;
    int32_t WaitForLock;  // seconds
    bool SmartLocking;
    int32_t FileValidationLevel;  // setting_names::kValidationLevels
    int32_t FileChangeHandling;   // setting_names::kChangeHandlings
    int32_t FileChangeRetries;
    std::string ApprovedServers;  // lines joined by "\r\n"
    bool AllowServersToInitiate;
    int32_t TimeoutForNonService;
    int32_t ClickAction;   // setting_names::kClickActions
    std::string SMTPHost;  // may end in ":port"
    std::string FromEmail;
    std::string ShareLogin;
    std::string SharePassword;  // plain; scrambled only in the store

    BackupSetTable& backup_sets() { return backup_sets_; }
    const BackupSetTable& backup_sets() const { return backup_sets_; }

    // The stored values of the product key, in the order they are read and written.
    static SettingFields<GeneralSettings> fields();

    // Every field to its default; the table is emptied.
    void reset();

    // Reads every value from the product key, then fills the table afresh
    // with one set per subkey of "backupsets" in the store's order (a missing
    // "backupsets" key leaves it empty). MyError OPERATION_FAILED "Registry
    // path not found" when the product key is missing; BAD_DATA "Invalid type
    // in registry key '%s'" for a value of the wrong type. Without a store:
    // this process's.
    void load(const registry::Store& store);
    void load();
    // The service's load: a set with a value of the wrong type is left out
    // and told to `skipped` (see BackupSetTable), the others load.
    void load(const registry::Store& store, const BackupSetTable::SkippedSet& skipped);

    // The editor's save: writes every value into the product key, then
    // replaces the whole of "backupsets" with the sets of the table in slot
    // order; one transaction. MyError OPERATION_FAILED: "Registry path not
    // found" (product key missing, or a set's key cannot be made), "Registry
    // path open failed" ("backupsets" cannot be created), "Could not set
    // registry value"; INVALID_PARAMETERS "Password contains characters that
    // cannot be stored". Nothing is written when it fails.
    void save(const registry::Store& store) const;
    void save() const;

    bool operator==(const GeneralSettings& other) const;

  private:
    BackupSetTable backup_sets_;
};

}  // namespace vardel
