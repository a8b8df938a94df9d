#pragma once
// Settings files and backup-set files: the suite-wide settings in one
// section "[SETTINGS]", or backup sets in one section each, headed by the
// set's name, in the line syntax of settings_file_syntax.h.
//
// Exports write the records as they are in memory; imports change the
// records in memory only (the caller saves). Files are written whole and
// atomically; a settings file, which carries the encoding password, is
// created readable by its owner only. A file that cannot be read whole
// imports nothing. Stateless; any thread.
#include <string>
#include <string_view>
#include <vector>

#include "common/backup_set_table.h"
#include "common/general_settings.h"
#include "vardelcfg/editor_message.h"

namespace vardel {

class SettingsFile {
  public:
    // How a value is written and read back.
    enum class Form { Number, Switch, Enumeration, QuotedText, PlainText, ScrambledText };

    struct Result {
        bool done = false;  // the file was written, or the records changed
        // The system's messages, in the order they arose (an import may
        // have some and still be done).
        std::vector<EditorMessage> messages;
        // A file that could not be opened, read or written.
        std::string error;
    };

    // The texts written to disk (before the CR LF line ends of text files).
    static std::string settings_text(const GeneralSettings& settings);
    static std::string set_text(const BackupSet& set);

    // Reads a settings file's text into `settings`. "Missing required
    // section '[SETTINGS]'" (not done) when the first key line is not that
    // section, and nothing changes; not done either for a text without any
    // key line. Unknown keys give "Unknown parameter '%s'" and reading goes
    // on; keys missing from the text leave their values.
    static Result read_settings(std::string_view text, GeneralSettings& settings);
    // Reads every set of a backup-set file's text, each starting at the
    // record defaults, and adds them by name (a set of the same name
    // without regard to case is replaced in its slot). A key line before
    // the first section gives "Missing Set Name line" and adds nothing.
    static Result read_sets(std::string_view text, BackupSetTable& table);

    static Result export_settings(const std::string& path, const GeneralSettings& settings);
    static Result import_settings(const std::string& path, GeneralSettings& settings);
    // Every set in table order; "No BackupSets defined" and no file when
    // the table is empty.
    static Result export_all_sets(const std::string& path, const BackupSetTable& table);
    static Result export_set(const std::string& path, const BackupSet& set);
    static Result import_sets(const std::string& path, BackupSetTable& table);

    static EditorMessage no_sets_message();
};

}  // namespace vardel
