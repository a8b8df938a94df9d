#include "common/backup_set.h"

#include "common/my_error.h"
#include "common/suite_names.h"

namespace vardel {

namespace {

using F = SettingField<BackupSet>;
using K = SettingKind;
namespace n = setting_names;

const F kFields[] = {
    {.name = "BackupType",
     .kind = K::Number,
     .number = &BackupSet::BackupType,
     .names = &n::kBackupTypes},
    {.name = "BackupsPerCycle",
     .kind = K::Number,
     .number = &BackupSet::BackupsPerCycle,
     .default_number = 1},
    {.name = "CyclesToSave",
     .kind = K::Number,
     .number = &BackupSet::CyclesToSave,
     .default_number = 3},
    {.name = "BackuDestinationType",
     .kind = K::Number,
     .number = &BackupSet::BackuDestinationType,
     .names = &n::kDestinationTypes},
    {.name = "BackupDestination", .kind = K::Text, .text = &BackupSet::BackupDestination},
    {.name = "RequestedClientPriority",
     .kind = K::Number,
     .number = &BackupSet::RequestedClientPriority,
     .default_number = 50},
    {.name = "BackupThreadPriority",
     .kind = K::Number,
     .number = &BackupSet::BackupThreadPriority,
     .default_number = -2},
    {.name = "IntervalType",
     .kind = K::Number,
     .number = &BackupSet::IntervalType,
     .names = &n::kIntervalTypes},
    {.name = "IntervalDays",
     .kind = K::Text,
     .text = &BackupSet::IntervalDays,
     .default_text = "-------"},
    {.name = "MonthList",
     .kind = K::Text,
     .text = &BackupSet::MonthList,
     .default_text = "-------------------------------"},
    {.name = "StartTime", .kind = K::Number, .number = &BackupSet::StartTime},
    {.name = "RepeatEvery", .kind = K::Number, .number = &BackupSet::RepeatEvery},
    {.name = "RepeatUntil", .kind = K::Number, .number = &BackupSet::RepeatUntil},
    {.name = "Enabled", .kind = K::Flag, .flag = &BackupSet::Enabled, .default_flag = true},
    {.name = "BackupDirs", .kind = K::MultiLineText, .text = &BackupSet::BackupDirs},
    {.name = "IncludeMasks", .kind = K::MultiLineText, .text = &BackupSet::IncludeMasks},
    {.name = "ExcludeMasks", .kind = K::MultiLineText, .text = &BackupSet::ExcludeMasks},
    {.name = "ExcludeFiles", .kind = K::MultiLineText, .text = &BackupSet::ExcludeFiles},
    {.name = "IncludeSystemFiles", .kind = K::Flag, .flag = &BackupSet::IncludeSystemFiles},
    {.name = "IncludeHiddenFiles", .kind = K::Flag, .flag = &BackupSet::IncludeHiddenFiles},
    {.name = "UseArchiveBit", .kind = K::Flag, .flag = &BackupSet::UseArchiveBit},
    {.name = "TrackDeletedFiles", .kind = K::Flag, .flag = &BackupSet::TrackDeletedFiles},
    {.name = "SaveFormat",
     .kind = K::Number,
     .number = &BackupSet::SaveFormat,
     .names = &n::kSaveFormats},
    {.name = "SaveOwnershipInfo", .kind = K::Flag, .flag = &BackupSet::SaveOwnershipInfo},
    {.name = "SavePathInfo", .kind = K::Flag, .flag = &BackupSet::SavePathInfo},
    {.name = "PasswordEncode", .kind = K::Flag, .flag = &BackupSet::PasswordEncode},
    {.name = "ExecuteBeforeStart", .kind = K::Text, .text = &BackupSet::ExecuteBeforeStart},
    {.name = "ExecuteOnSuccess", .kind = K::Text, .text = &BackupSet::ExecuteOnSuccess},
    {.name = "ExecuteOnFailure", .kind = K::Text, .text = &BackupSet::ExecuteOnFailure},
};

constexpr const char* kPathNotFound = "Registry path not found";

}  // namespace

SettingFields<BackupSet> BackupSet::fields() {
    return kFields;
}

BackupSet::BackupSet() {
    reset();
}

void BackupSet::reset() {
    Name.clear();
    reset_fields(*this, fields());
}

void BackupSet::load(std::string_view name) {
    load(name, registry::current_store(registry::Transaction::Mode::Read));
}

void BackupSet::load(std::string_view name, const registry::Store& store) {
    BackupSet fresh;
    registry::Transaction tx(store, registry::Transaction::Mode::Read);
    std::optional<registry::Key> key = registry::open_key(
        store, registry::Root::LocalMachine, registry::join_path(kBackupSetsKey, name));
    if (!key) throw MyError(NOT_FOUND, kPathNotFound);
    read_fields(fresh, *key, fields());
    tx.commit();
    fresh.Name = std::string(name);
    *this = std::move(fresh);
}

void BackupSet::save() const {
    save(registry::current_store(registry::Transaction::Mode::Write));
}

void BackupSet::save(const registry::Store& store) const {
    if (Name.empty() || Name.find('\\') != std::string::npos)
        throw MyError(OPERATION_FAILED, kPathNotFound);
    check_storable(*this, fields());
    registry::Transaction tx(store, registry::Transaction::Mode::Write);
    std::optional<registry::Key> key = registry::create_key(
        store, registry::Root::LocalMachine, registry::join_path(kBackupSetsKey, Name));
    if (!key) throw MyError(OPERATION_FAILED, kPathNotFound);
    write_fields(*this, *key, fields());
    tx.commit();
}

}  // namespace vardel
