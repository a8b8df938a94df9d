#include "common/general_settings.h"

#include <sys/stat.h>

#include <memory>
#include <random>
#include <vector>

#include "common/my_error.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"

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
constexpr const char* kWriteFailed = "Could not set registry value";

// The passwords' own store, beside the settings store and its owner's alone:
// a machine-wide settings store is readable by every account (clients need
// the set names), and the passwords' scrambling is no secret. Only root's
// programs (the service, the editor saving) read them; a client never needs
// them.
//
// The two stores cannot share a transaction, so each save files its
// passwords under a new stamp, which the settings store names in the same
// transaction as the other values; the stamp the settings store names
// before is kept until the next save. A load thus takes the passwords of
// the very save it read, or, when a save came between its two reads, reads
// again.
constexpr const char* kPasswordStampValue = "PasswordStamp";
constexpr const char* kPasswordsKey = "software\\Brindlecore\\Vardel\\passwords";

std::string secrets_path(const registry::Store& store) {
    const std::string& p = store->path();
    return p.substr(0, p.rfind('/') + 1) + "secrets.db";
}

std::string new_stamp() {
    std::random_device random;
    return strprintf("%08x%08x", random(), random());
}

enum class Passwords { Read, Unreadable, StampGone };

Passwords read_passwords(GeneralSettings& g, const registry::Store& store,
                         const std::string& stamp) {
    std::string path = secrets_path(store);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return Passwords::Unreadable;
    registry::Store secrets;
    try {
        secrets = platform::RegistryStore::open(path, platform::StoreScope::Root);
    } catch (const platform::RegistryError&) {
        return Passwords::Unreadable;  // not this account's to read
    }
    registry::Transaction tx(secrets, registry::Transaction::Mode::Read);
    std::optional<registry::Key> key = registry::open_key(
        secrets, registry::Root::LocalMachine, registry::join_path(kPasswordsKey, stamp));
    if (!key) return Passwords::StampGone;
    for (const F& f : GeneralSettings::fields()) {
        if (f.kind == K::ScrambledText)
            g.*f.text = registry::read_scrambled(*key, f.name, "");
        else if (f.kind == K::ScrambledAsText)
            g.*f.text = registry::read_scrambled_as_text(*key, f.name, "");
    }
    tx.commit();
    return Passwords::Read;
}

// Files the passwords under `stamp`, keeping those of `current` (the stamp
// the settings store names until this save lands) and dropping the rest.
void write_passwords(const GeneralSettings& g, const registry::Store& store,
                     const std::string& stamp, const std::string& current) {
    registry::Store secrets;
    try {
        secrets = platform::RegistryStore::open(secrets_path(store), platform::StoreScope::Root);
    } catch (const platform::RegistryError&) {
        throw MyError(OPERATION_FAILED, kWriteFailed);
    }
    if (secrets->read_only()) throw MyError(OPERATION_FAILED, kWriteFailed);
    registry::Transaction tx(secrets, registry::Transaction::Mode::Write);
    std::optional<registry::Key> all =
        registry::create_key(secrets, registry::Root::LocalMachine, kPasswordsKey);
    if (!all) throw MyError(OPERATION_FAILED, kWriteFailed);
    std::vector<std::string> stale;
    std::string name;
    for (size_t i = 0; registry::enum_subkey(*all, i, name); ++i)
        if (name != current) stale.push_back(name);
    try {
        for (const std::string& old : stale) all->delete_subkey(old);
    } catch (const platform::RegistryError&) {
        throw MyError(OPERATION_FAILED, kWriteFailed);
    }
    std::optional<registry::Key> key = registry::create_key(
        secrets, registry::Root::LocalMachine, registry::join_path(kPasswordsKey, stamp));
    if (!key) throw MyError(OPERATION_FAILED, kWriteFailed);
    for (const F& f : GeneralSettings::fields()) {
        if (f.kind == K::ScrambledText)
            registry::write_scrambled(*key, f.name, g.*f.text);
        else if (f.kind == K::ScrambledAsText)
            registry::write_scrambled_as_text(*key, f.name, g.*f.text);
    }
    tx.commit();
}

// Every field but the passwords.
std::vector<F> settings_fields() {
    std::vector<F> out;
    for (const F& f : GeneralSettings::fields())
        if (!f.is_scrambled()) out.push_back(f);
    return out;
}

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
    load(store, nullptr);
}

void GeneralSettings::load(const registry::Store& store,
                           const BackupSetTable::SkippedSet& skipped) {
    // Again while saves keep coming between the two reads; the stamp read
    // last is kept by the next save, so this ends as soon as saves pause.
    for (int attempt = 0;; ++attempt) {
        GeneralSettings fresh;
        std::string stamp;
        std::vector<std::pair<std::string, std::string>> left_out;  // told once, at the end
        registry::Transaction tx(store, registry::Transaction::Mode::Read);
        {
            std::optional<registry::Key> key =
                registry::open_key(store, registry::Root::LocalMachine, kProductKey);
            if (!key) throw MyError(OPERATION_FAILED, kPathNotFound);
            // Passwords found here were saved before they moved apart.
            read_fields(fresh, *key, fields());
            stamp = registry::read_text(*key, kPasswordStampValue, "");
        }
        BackupSetTable::SkippedSet note;
        if (skipped)
            note = [&](const std::string& name, const std::string& why) {
                left_out.emplace_back(name, why);
            };
        fresh.backup_sets_.load(store, note);
        tx.commit();
        if (!stamp.empty() && read_passwords(fresh, store, stamp) == Passwords::StampGone &&
            attempt < 100)
            continue;
        *this = std::move(fresh);
        for (const auto& [name, why] : left_out) skipped(name, why);
        return;
    }
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
        // The passwords land in their own store first, under a new stamp
        // that this transaction makes current; they leave the settings
        // store, where an older save kept them.
        const std::string stamp = new_stamp();
        write_passwords(*this, store, stamp, registry::read_text(*key, kPasswordStampValue, ""));
        const std::vector<F> plain = settings_fields();
        write_fields(*this, *key, SettingFields<GeneralSettings>(plain));
        registry::write_text(*key, kPasswordStampValue, stamp);
        for (const F& f : fields()) {
            if (!f.is_scrambled()) continue;
            try {
                key->delete_value(f.name);
            } catch (const platform::RegistryError&) {
                throw MyError(OPERATION_FAILED, kWriteFailed);
            }
        }
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
