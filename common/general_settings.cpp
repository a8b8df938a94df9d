#include "common/general_settings.h"

#include <memory>

#include "common/my_error.h"
#include "common/suite_names.h"

namespace vardel {

namespace {

using F = SettingField<GeneralSettings>;
using K = SettingKind;
using G = GeneralSettings;
namespace n = setting_names;

const F kFields[] = {
    {.name = "WriteLogsToFile", .kind = K::Flag, .flag = &G::WriteLogsToFile, .default_flag = true},
    {.name = "LogFilePath", .kind = K::Text, .text = &G::LogFilePath},
    {.name = "CycleLogDays", .kind = K::Number, .number = &G::CycleLogDays, .default_number = 7},
    {.name = "CycleLogSize", .kind = K::Number, .number = &G::CycleLogSize, .default_number = 100},
    {.name = "KeepNLogs", .kind = K::Number, .number = &G::KeepNLogs, .default_number = 3},
    {.name = "MailOldLog", .kind = K::Flag, .flag = &G::MailOldLog},
    {.name = "MailLogEmail", .kind = K::Text, .text = &G::MailLogEmail},
    {.name = "WarnUserWhenBackupStarts",
     .kind = K::Flag,
     .flag = &G::WarnUserWhenBackupStarts,
     .default_flag = true},
    {.name = "OnlyStartIfLoggedOff", .kind = K::Flag, .flag = &G::OnlyStartIfLoggedOff},
    {.name = "WarnOfActiveBackup",
     .kind = K::Flag,
     .flag = &G::WarnOfActiveBackup,
     .default_flag = true},
    {.name = "SendEmailOnCompletion", .kind = K::Flag, .flag = &G::SendEmailOnCompletion},
    {.name = "CompletionEmail", .kind = K::Text, .text = &G::CompletionEmail},
    {.name = "GiveUpIfNotLoggedOff",
     .kind = K::Number,
     .number = &G::GiveUpIfNotLoggedOff,
     .default_number = 5},
    {.name = "CompressBackupStream", .kind = K::Flag, .flag = &G::CompressBackupStream},
    {.name = "EncryptBackupStream", .kind = K::Flag, .flag = &G::EncryptBackupStream},
    {.name = "EncryptionLevel",
     .kind = K::Number,
     .number = &G::EncryptionLevel,
     .names = &n::kEncryptionLevels},
    {.name = "EncodingPassword", .kind = K::ScrambledAsText, .text = &G::EncodingPassword},
    {.name = "FileLockLevel",
     .kind = K::Number,
     .number = &G::FileLockLevel,
     .names = &n::kFileLockLevels},
    {.name = "LockFailureHandling",
     .kind = K::Number,
     .number = &G::LockFailureHandling,
     .names = &n::kLockFailureHandlings},
    {.name = "RetryLockTimes",
     .kind = K::Number,
     .number = &G::RetryLockTimes,
     .default_number = 5},
    {.name = "WaitForLock", .kind = K::Number, .number = &G::WaitForLock, .default_number = 1},
    {.name = "SmartLocking", .kind = K::Flag, .flag = &G::SmartLocking, .default_flag = true},
    {.name = "FileValidationLevel",
     .kind = K::Number,
     .number = &G::FileValidationLevel,
     .names = &n::kValidationLevels},
    {.name = "FileChangeHandling",
     .kind = K::Number,
     .number = &G::FileChangeHandling,
     .names = &n::kChangeHandlings},
    {.name = "FileChangeRetries", .kind = K::Number, .number = &G::FileChangeRetries},
    {.name = "ApprovedServers", .kind = K::MultiLineText, .text = &G::ApprovedServers},
    {.name = "AllowServersToInitiate", .kind = K::Flag, .flag = &G::AllowServersToInitiate},
    {.name = "TimeoutForNonService",
     .kind = K::Number,
     .number = &G::TimeoutForNonService,
     .default_number = 60},
    {.name = "ClickAction",
     .kind = K::Number,
     .number = &G::ClickAction,
     .names = &n::kClickActions},
    {.name = "SMTPHost", .kind = K::Text, .text = &G::SMTPHost},
    {.name = "FromEmail", .kind = K::Text, .text = &G::FromEmail},
    {.name = "ShareLogin", .kind = K::Text, .text = &G::ShareLogin},
    {.name = "SharePassword", .kind = K::ScrambledText, .text = &G::SharePassword},
};

constexpr const char* kPathNotFound = "Registry path not found";

}  // namespace

SettingFields<GeneralSettings> GeneralSettings::fields() {
    return kFields;
}

GeneralSettings::GeneralSettings() {
    reset_fields(*this, fields());
}

void GeneralSettings::reset() {
    reset_fields(*this, fields());
    backup_sets_.clear();
}

void GeneralSettings::load() {
    load(registry::current_store(registry::Transaction::Mode::Read));
}

void GeneralSettings::load(const registry::Store& store) {
    GeneralSettings fresh;
    registry::Transaction tx(store, registry::Transaction::Mode::Read);
    {
        std::optional<registry::Key> key =
            registry::open_key(store, registry::Root::LocalMachine, kProductKey);
        if (!key) throw MyError(OPERATION_FAILED, kPathNotFound);
        read_fields(fresh, *key, fields());
    }
    fresh.backup_sets_.load(store);
    tx.commit();
    *this = std::move(fresh);
}

void GeneralSettings::save() const {
    save(registry::current_store(registry::Transaction::Mode::Write));
}

void GeneralSettings::save(const registry::Store& store) const {
    // Refuse before the transaction starts, so the reason is the password
    // and not a rolled-back write.
    check_storable(*this, fields());
    registry::Transaction tx(store, registry::Transaction::Mode::Write);
    {
        std::optional<registry::Key> key =
            registry::open_key(store, registry::Root::LocalMachine, kProductKey);
        if (!key) throw MyError(OPERATION_FAILED, kPathNotFound);
        write_fields(*this, *key, fields());
    }
    backup_sets_.save(store);
    tx.commit();
}

bool GeneralSettings::operator==(const GeneralSettings& other) const {
    for (const F& f : fields()) {
        if (f.is_number() ? this->*f.number != other.*f.number
            : f.is_flag() ? this->*f.flag != other.*f.flag
                          : this->*f.text != other.*f.text)
            return false;
    }
    if (backup_sets_.size() != other.backup_sets_.size()) return false;
    for (size_t i = 0; i < backup_sets_.size(); ++i)
        if (!(backup_sets_[i] == other.backup_sets_[i])) return false;
    return true;
}

}  // namespace vardel
