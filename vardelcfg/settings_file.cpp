#include "vardelcfg/settings_file.h"

#include <memory>
#include <optional>

#include "common/my_error.h"
#include "common/registry.h"
#include "common/text_helpers.h"
#include "platform/atomic_file.h"
#include "platform/file.h"
#include "vardelcfg/settings_file_syntax.h"

namespace vardel {

namespace {

using Form = SettingsFile::Form;
using Icon = EditorMessage::Icon;

struct Key {
    const char* name;
    Form form;
};

// The order of the lines in the files. The members and name tables come
// from the records' own field tables, found by name.
constexpr Key kSettingsKeys[] = {
    {"WriteLogsToFile", Form::Switch},
    {"LogFilePath", Form::QuotedText},
    {"CycleLogDays", Form::Number},
    {"CycleLogSize", Form::Number},
    {"KeepNLogs", Form::Number},
    {"MailOldLog", Form::Switch},
    {"MailLogEmail", Form::QuotedText},
    {"WarnUserWhenBackupStarts", Form::Switch},
    {"OnlyStartIfLoggedOff", Form::Switch},
    {"WarnOfActiveBackup", Form::Switch},
    {"SendEmailOnCompletion", Form::Switch},
    {"GiveUpIfNotLoggedOff", Form::Number},
    {"CompletionEmail", Form::QuotedText},
    {"CompressBackupStream", Form::Switch},
    {"EncryptBackupStream", Form::Switch},
    {"EncryptionLevel", Form::Enumeration},
    {"EncodingPassword", Form::ScrambledText},
    {"FileLockLevel", Form::Enumeration},
    {"LockFailureHandling", Form::Enumeration},
    {"RetryLockTimes", Form::Number},
    {"WaitForLock", Form::Number},
    {"SmartLocking", Form::Switch},
    {"FileValidationLevel", Form::Enumeration},
    {"FileChangeHandling", Form::Enumeration},
    {"FileChangeRetries", Form::Number},
    {"ApprovedServers", Form::QuotedText},
    {"AllowServersToInitiate", Form::Switch},
    {"TimeoutForNonService", Form::Number},
    {"ClickAction", Form::Enumeration},
    {"SMTPHost", Form::PlainText},
    {"FromEmail", Form::PlainText},
};

constexpr Key kSetKeys[] = {
    {"BackupType", Form::Enumeration},
    {"BackupsPerCycle", Form::Number},
    {"CyclesToSave", Form::Number},
    {"BackuDestinationType", Form::Enumeration},
    {"BackupDestination", Form::QuotedText},
    {"RequestedClientPriority", Form::Number},
    {"BackupThreadPriority", Form::Number},
    {"IntervalType", Form::Enumeration},
    {"IntervalDays", Form::QuotedText},
    {"MonthList", Form::QuotedText},
    {"StartTime", Form::Number},
    {"RepeatEvery", Form::Number},
    {"RepeatUntil", Form::Number},
    {"Enabled", Form::Switch},
    {"BackupDirs", Form::QuotedText},
    {"ExcludeFiles", Form::QuotedText},
    {"IncludeMasks", Form::QuotedText},
    {"ExcludeMasks", Form::QuotedText},
    {"IncludeSystemFiles", Form::Switch},
    {"IncludeHiddenFiles", Form::Switch},
    {"UseArchiveBit", Form::Switch},
    {"TrackDeletedFiles", Form::Switch},
    {"SaveOwnershipInfo", Form::Switch},
    {"SaveFormat", Form::Enumeration},
    {"ExecuteBeforeStart", Form::QuotedText},
    {"ExecuteOnSuccess", Form::QuotedText},
    {"ExecuteOnFailure", Form::QuotedText},
    {"SavePathInfo", Form::Switch},
    {"PasswordEncode", Form::Switch},
};

constexpr const char* kLoadError = "Load Error";

template <class Record>
const SettingField<Record>& field_of(const char* name) {
    const SettingField<Record>* f = find_field(Record::fields(), name);
    if (!f) throw MyError::format(INVALID_PARAMETERS, "No setting %s", name);
    return *f;
}

template <class Record>
void write_value(std::string& out, const Record& r, const Key& key) {
    const SettingField<Record>& f = field_of<Record>(key.name);
    out += key.name;
    out += '=';
    switch (key.form) {
        case Form::Number:
            out += std::to_string(r.*f.number);
            break;
        case Form::Switch:
            out += r.*f.flag ? "Y" : "N";
            break;
        case Form::Enumeration:
            out += f.names->name_or(r.*f.number, f.names->name(0));
            break;
        case Form::QuotedText:
            out += quoted_settings_value(r.*f.text);
            break;
        case Form::PlainText:
            out += plain_settings_value(r.*f.text);
            break;
        case Form::ScrambledText:
            // Scrambled bytes may hold a backslash or start with a quote:
            // quoting and escaping them carries every byte.
            registry::check_scramblable(r.*f.text);
            out += quoted_settings_value(registry::scramble(r.*f.text));
            break;
    }
    out += '\n';
}

template <class Record>
void read_value(Record& r, const Key& key, const std::string& value) {
    const SettingField<Record>& f = field_of<Record>(key.name);
    switch (key.form) {
        case Form::Number:
            r.*f.number = settings_number(value);
            break;
        case Form::Switch:
            r.*f.flag = iequals(value, "Y");
            break;
        case Form::Enumeration:
            r.*f.number = std::max(f.names->index_of(value), 0);
            break;
        case Form::QuotedText:
        case Form::PlainText:
            r.*f.text = value;
            break;
        case Form::ScrambledText:
            r.*f.text = registry::unscramble(value);
            break;
    }
}

template <size_t N>
const Key* find_key(const Key (&keys)[N], std::string_view name) {
    for (const Key& k : keys)
        if (iequals(k.name, name)) return &k;
    return nullptr;
}

EditorMessage unknown_parameter(const std::string& key) {
    return {strprintf("Unknown parameter '%s'", key.c_str()), kLoadError, Icon::Exclamation};
}

// Text mode: each line end is CR LF on disk.
std::string with_crlf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

bool write_text_file(const std::string& path, std::string_view text, mode_t mode,
                     SettingsFile::Result& r) {
    std::string error;
    if (!platform::write_file_atomically(path, with_crlf(text), &error, nullptr, mode)) {
        r.error = error;
        return false;
    }
    r.done = true;
    return true;
}

bool read_text_file(const std::string& path, std::string& text, SettingsFile::Result& r) {
    platform::File f;
    if (!f.open(path, platform::OpenMode::Read)) {
        r.error = strprintf("Can't open %s: %s", path.c_str(), system_error_text(f.error()));
        return false;
    }
    char buf[65536];
    for (;;) {
        ssize_t n = f.read(buf, sizeof buf);
        if (n < 0) {
            r.error = strprintf("Can't read %s: %s", path.c_str(), system_error_text(f.error()));
            return false;
        }
        if (n == 0) return true;
        text.append(buf, static_cast<size_t>(n));
    }
}

SettingsFile::Result write_sets(const std::string& path, const BackupSetTable& table,
                                const BackupSet* only) {
    SettingsFile::Result r;
    std::string text;
    try {
        if (only) {
            text = SettingsFile::set_text(*only);
        } else {
            for (const BackupSet& s : table) text += SettingsFile::set_text(s);
        }
    } catch (const MyError& e) {
        r.error = e.message();
        return r;
    }
    write_text_file(path, text, 0644, r);
    return r;
}

}  // namespace

std::string SettingsFile::settings_text(const GeneralSettings& settings) {
    std::string out = "[SETTINGS]\n";
    for (const Key& k : kSettingsKeys) write_value(out, settings, k);
    return out;
}

std::string SettingsFile::set_text(const BackupSet& set) {
    // A line break in the name would end the section line early and let the
    // rest of the name be read as a key.
    if (set.Name.find_first_of("\r\n") != std::string::npos)
        throw MyError::format(INVALID_PARAMETERS,
                              "A set name holding a line break cannot be "
                              "written to a file");
    std::string out = "[" + set.Name + "]\n";
    for (const Key& k : kSetKeys) write_value(out, set, k);
    out += '\n';
    return out;
}

SettingsFile::Result SettingsFile::read_settings(std::string_view text, GeneralSettings& settings) {
    Result r;
    GeneralSettings read = settings;
    bool first = true;
    bool refused = false;
    for_each_settings_line(text, [&](const SettingsLine& line) {
        if (refused) return;
        if (first) {
            first = false;
            if (!line.section || !iequals(line.name, "settings")) {
                r.messages.push_back(
                    {"Missing required section '[SETTINGS]'", kLoadError, Icon::Stop});
                refused = true;
            }
            return;
        }
        const Key* key = line.section ? nullptr : find_key(kSettingsKeys, line.key);
        if (!key) {
            r.messages.push_back(unknown_parameter(line.key));
            return;
        }
        read_value(read, *key, line.value);
    });
    if (first || refused) return r;
    settings = std::move(read);
    r.done = true;
    return r;
}

SettingsFile::Result SettingsFile::read_sets(std::string_view text, BackupSetTable& table) {
    Result r;
    std::vector<std::unique_ptr<BackupSet>> sets;
    bool refused = false;
    for_each_settings_line(text, [&](const SettingsLine& line) {
        if (refused) return;
        if (line.section) {
            sets.push_back(std::make_unique<BackupSet>());
            sets.back()->Name = line.name;
            return;
        }
        if (sets.empty()) {
            r.messages.push_back({"Missing Set Name line", kLoadError, Icon::Stop});
            refused = true;
            return;
        }
        const Key* key = find_key(kSetKeys, line.key);
        if (!key) {
            r.messages.push_back(unknown_parameter(line.key));
            return;
        }
        read_value(*sets.back(), *key, line.value);
    });
    if (refused || sets.empty()) return r;
    for (auto& s : sets) table.add_by_name(std::move(s));
    r.done = true;
    return r;
}

SettingsFile::Result SettingsFile::export_settings(const std::string& path,
                                                   const GeneralSettings& settings) {
    Result r;
    std::string text;
    try {
        text = settings_text(settings);
    } catch (const MyError& e) {
        r.error = e.message();
        return r;
    }
    // The file carries the encoding password.
    write_text_file(path, text, 0600, r);
    return r;
}

SettingsFile::Result SettingsFile::import_settings(const std::string& path,
                                                   GeneralSettings& settings) {
    Result r;
    std::string text;
    if (!read_text_file(path, text, r)) return r;
    return read_settings(text, settings);
}

SettingsFile::Result SettingsFile::export_all_sets(const std::string& path,
                                                   const BackupSetTable& table) {
    if (table.empty()) {
        Result r;
        r.messages.push_back(no_sets_message());
        return r;
    }
    return write_sets(path, table, nullptr);
}

SettingsFile::Result SettingsFile::export_set(const std::string& path, const BackupSet& set) {
    return write_sets(path, BackupSetTable(), &set);
}

SettingsFile::Result SettingsFile::import_sets(const std::string& path, BackupSetTable& table) {
    Result r;
    std::string text;
    if (!read_text_file(path, text, r)) return r;
    return read_sets(text, table);
}

EditorMessage SettingsFile::no_sets_message() {
    return {"No BackupSets defined", "Save Error!", Icon::Stop};
}

}  // namespace vardel
