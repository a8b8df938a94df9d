#pragma once
// The state of one backup run, owned by the backup thread: the set's copy,
// the paths worked out from it, the numbers from "BACKUP.INI", the report
// and the retry list, the counters and the catalogue.
#include <cstdint>
#include <string>

#include "common/backup_set.h"
#include "common/general_settings.h"
#include "common/ini_document.h"
#include "common/my_error.h"
#include "common/mystring.h"
#include "common/setting_names.h"
#include "platform/file_info.h"
#include "platform/target_folder.h"
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
    // The destination held open for the whole run: everything the run makes,
    // replaces or deletes there is reached from it, never through a link
    // planted by whoever owns the folder.
    platform::TargetFolder destination;
    platform::FileInfo destination_info;  // device and inode: the walk never enters it
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

// A write failed because the destination is full (ENOSPC, EDQUOT).
bool destination_full(int error_number);
// The run's failure for a destination that is full: "Can't write the backup
// to %s: %s" (the folder, the system's text), with code 0 so the text stands
// as it is.
MyError full_destination(const BackupRun& run, int error_number);

// Lines of a multi-line setting (CR LF, LF or CR), empty lines left out.
std::vector<std::string> setting_lines(const std::string& value);

}  // namespace vardel
