#pragma once
// One stored setting of a record: its exact value name, its kind, the member
// that holds it, its default and (for enumerated numbers) its name table.
// GeneralSettings and BackupSet each describe their values with a table of
// these, in the order the values are read and written; reset, load and save
// walk the table, and so can the settings editor and the settings files.
// Constant data; any thread.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/registry.h"
#include "common/setting_names.h"
#include "common/text_helpers.h"

namespace vardel {

enum class SettingKind {
    Number,           // REG_DWORD
    Text,             // REG_SZ, one line
    MultiLineText,    // REG_SZ; lines joined by "\r\n" in memory, by tabs when stored
    Flag,             // REG_SZ "Y" / "N"
    ScrambledText,    // REG_SZ scrambled, no tab conversion
    ScrambledAsText,  // scrambled, then stored and read as text ("EncodingPassword")
};

template <class Record>
struct SettingField {
    const char* name;  // the value name, spelt exactly as stored
    SettingKind kind;
    // The member: `number` for Number, `flag` for Flag, `text` for the rest.
    int32_t Record::*number = nullptr;
    bool Record::*flag = nullptr;
    std::string Record::*text = nullptr;
    int32_t default_number = 0;
    bool default_flag = false;
    const char* default_text = "";
    const NameTable* names = nullptr;  // enumerated numbers only

    bool is_number() const { return kind == SettingKind::Number; }
    bool is_flag() const { return kind == SettingKind::Flag; }
    bool is_text() const { return !is_number() && !is_flag(); }
    bool is_scrambled() const {
        return kind == SettingKind::ScrambledText || kind == SettingKind::ScrambledAsText;
    }
};

template <class Record>
using SettingFields = std::span<const SettingField<Record>>;

// The field named `name` (without regard to case), or nullptr.
template <class Record>
const SettingField<Record>* find_field(SettingFields<Record> fields, std::string_view name) {
    for (const SettingField<Record>& f : fields)
        if (iequals(f.name, name)) return &f;
    return nullptr;
}

template <class Record>
void reset_fields(Record& r, SettingFields<Record> fields) {
    for (const SettingField<Record>& f : fields) {
        if (f.is_number())
            r.*f.number = f.default_number;
        else if (f.is_flag())
            r.*f.flag = f.default_flag;
        else
            r.*f.text = f.default_text;
    }
}

// Reads every field in table order; a missing value takes its default.
// Throws MyError as the typed helpers do (BAD_DATA for a wrong type).
template <class Record>
void read_fields(Record& r, const registry::Key& key, SettingFields<Record> fields) {
    for (const SettingField<Record>& f : fields) {
        switch (f.kind) {
            case SettingKind::Number:
                r.*f.number = registry::read_number(key, f.name, f.default_number);
                break;
            case SettingKind::Flag:
                r.*f.flag = registry::read_flag(key, f.name, f.default_flag ? "Y" : "N");
                break;
            case SettingKind::Text:
            case SettingKind::MultiLineText:
                r.*f.text = registry::read_text(key, f.name, f.default_text);
                break;
            case SettingKind::ScrambledText:
                r.*f.text = registry::read_scrambled(key, f.name, f.default_text);
                break;
            case SettingKind::ScrambledAsText:
                r.*f.text = registry::read_scrambled_as_text(key, f.name, f.default_text);
                break;
        }
    }
}

// Refuses (MyError, nothing written) a record whose passwords cannot be stored.
template <class Record>
void check_storable(const Record& r, SettingFields<Record> fields) {
    for (const SettingField<Record>& f : fields)
        if (f.is_scrambled()) registry::check_scramblable(r.*f.text);
}

// Writes every field in table order. Throws MyError OPERATION_FAILED "Could
// not set registry value" when the store refuses.
template <class Record>
void write_fields(const Record& r, const registry::Key& key, SettingFields<Record> fields) {
    check_storable(r, fields);
    for (const SettingField<Record>& f : fields) {
        switch (f.kind) {
            case SettingKind::Number:
                registry::write_number(key, f.name, r.*f.number);
                break;
            case SettingKind::Flag:
                registry::write_flag(key, f.name, r.*f.flag);
                break;
            case SettingKind::Text:
            case SettingKind::MultiLineText:
                registry::write_text(key, f.name, r.*f.text);
                break;
            case SettingKind::ScrambledText:
                registry::write_scrambled(key, f.name, r.*f.text);
                break;
            case SettingKind::ScrambledAsText:
                registry::write_scrambled_as_text(key, f.name, r.*f.text);
                break;
        }
    }
}

}  // namespace vardel
