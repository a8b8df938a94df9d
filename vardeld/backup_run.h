#pragma once
// The state of one backup run, owned by the backup thread: the set's copy,
// the paths worked out from it, the numbers from "BACKUP.INI", the report
// and the retry list, the counters and the catalogue.
#include <cstdint>
#include <string>

#include "common/backup_set.h"
#include "common/general_settings.h"
#include "common/ini_document.h"
#include "common/mystring.h"
#include "common/setting_names.h"
#include "vardeld/directory_catalogue.h"
#include "vardeld/run_flags.h"
#include "vardeld/run_report.h"

namespace vardel {

struct BackupRun {
    BackupRun(const BackupSet& s, const GeneralSettings& g, RunFlags& f)
        : set(s), general(g), flags(f) {}

    BackupSet set;            // the run's own copy
    GeneralSettings general;  // the suite-wide values as the run began
    RunFlags& flags;

    std::string destination_folder;  // ends in "/"
    std::string files_folder;        // ends in "/"
    std::string archive_path;
    std::string list_file_path;
    std::string state_file_path;
    IniDocument state;

    int64_t sequence = 0;
    int64_t cycle = 0;
    int64_t start_time = 0;  // seconds since 1970 (UTC)
    int64_t last_backup_time = 0;
    int64_t first_backup_time = 0;
    bool track_deleted = false;
    bool encode = false;  // PasswordEncode and a password to encode with
    bool activity = false;

    std::string current_root;  // of the BackupDirs entry being walked; ends in "/"
    RunReport report;
    RunCounters counters;
    bool archive_bit_unsupported_logged = false;

    DirectoryCatalogue catalogue;
};

// Lines of a multi-line setting (CR LF, LF or CR), empty lines left out.
std::vector<std::string> setting_lines(const std::string& value);

}  // namespace vardel
