// Settings and backup-set files on arbitrary bytes: whatever a file holds
// reads into records without a crash, and records read from a file write
// out as a text that reads back to the same records.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/my_error.h"
#include "vardelcfg/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using vardel::SettingsFile;
    std::string_view in(reinterpret_cast<const char*>(data), size);
    // A lone CR inside a value comes back as a line break: the syntax has
    // no escape of its own for it.
    bool exact = in.find('\r') == std::string_view::npos;

    vardel::GeneralSettings g;
    if (SettingsFile::read_settings(in, g).done && exact) {
        try {
            vardel::GeneralSettings back;
            if (!SettingsFile::read_settings(SettingsFile::settings_text(g), back).done ||
                !(back == g))
                std::abort();
        } catch (const vardel::MyError&) {
            // A password of bytes the store cannot hold is refused, not written.
        }
    }

    vardel::BackupSetTable t;
    if (SettingsFile::read_sets(in, t).done && exact) {
        for (const vardel::BackupSet& s : t) {
            vardel::BackupSetTable back;
            if (!SettingsFile::read_sets(SettingsFile::set_text(s), back).done ||
                back.size() != 1 || !(back[0] == s))
                std::abort();
        }
    }
    return 0;
}
