#pragma once
// A small in-memory INI document: ordered (section, key, value) entries,
// sections and keys matched without regard to case, entries kept in the
// order they were first set or read. Used for "BACKUP.INI".
//
// Files are text: written with CR LF, read accepting LF or CR LF.
// Not thread-safe: one owner.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vardel {

class IniDocument {
  public:
    struct Entry {
        std::string section;
        std::string key;
        std::string value;
    };

    void set_file_name(std::string path) { file_name_ = std::move(path); }
    const std::string& file_name() const { return file_name_; }

    // True when the file could be read whole. Sets the file name; entries
    // read are added to, or overwrite, those already present. On false,
    // `error_number` (when given) says why: ENOENT for a missing file; for a
    // read error nothing is taken from the file.
    bool load(const std::string& path, int* error_number = nullptr);
    // Replaces the file atomically (temporary file, flush, rename). False when
    // the file name is empty or any step fails; the old file is then kept
    // whole. `error`, when given, names the file and the reason.
    bool save(std::string* error = nullptr) const;
    // The text save() writes.
    std::string serialise() const;
    // Reads a document's text, as load() does from a file.
    void parse(std::string_view text);

    void set_text(std::string_view section, std::string_view key, std::string_view value);
    void set_number(std::string_view section, std::string_view key, int64_t value);
    // The value, or "" when there is no such entry.
    std::string get_text(std::string_view section, std::string_view key) const;
    // Leading blanks, an optional sign, digits up to the first other character;
    // 0 when there are none.
    int64_t get_number(std::string_view section, std::string_view key) const;

    // Removes one entry; false when there was none.
    bool remove(std::string_view section, std::string_view key);
    const std::vector<Entry>& entries() const { return entries_; }

  private:
    void parse_line(const std::string& line, std::string& section);
    Entry* find(std::string_view section, std::string_view key);
    const Entry* find(std::string_view section, std::string_view key) const;

    std::string file_name_;
    std::vector<Entry> entries_;
};

}  // namespace vardel
