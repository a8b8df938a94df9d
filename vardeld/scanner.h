#pragma once
// The walk of one run: BackupThisPath over every BackupDirs entry, the
// selection of files by backup type, time stamps or the archive attribute,
// hidden and system filters, masks and excluded folders; and the list files
// of the cycle. On the backup thread alone.
//
// Linux rules: a directory's symbolic link is never followed below a root;
// FIFOs, sockets and devices are never opened; names compare exactly.
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/file_info.h"
#include "vardeld/backup_run.h"
#include "vardeld/file_saver.h"

namespace vardel {

class Scanner {
  public:
    Scanner(BackupRun& run, FileSaver& saver, const platform::Env& env = platform::Env::real());

    // Walks a directory or a single file. Throws MyError 23 on abort.
    void backup_this_path(const std::string& path);
    // Reads L<cycle>_1 .. L<cycle>_<n-1> into the catalogue.
    void load_list_files();
    // Writes L<cycle>_<n>; every B or D line sets the run's activity.
    void write_list_file();

    // The selection test for a taken file (exposed for tests).
    struct Selection {
        bool selected = false;
        bool clear_archive = false;  // after a successful save
    };
    Selection select(const std::string& path, const platform::FileInfo& info);

  private:
    void take_file(const std::string& scan_dir, const std::string& name,
                   const platform::FileInfo& info, DirectoryCatalogue::DirRecord* dir,
                   bool& saved_any);
    bool excluded_dir(const std::string& child) const;
    // Waits out a pause, then the abort check.
    void checkpoint(const char* trace);

    BackupRun& run_;
    FileSaver& saver_;
    const platform::Env& env_;
    std::vector<std::string> exclude_files_;
    std::vector<std::string> include_masks_;
    std::vector<std::string> exclude_masks_;
};

// Makes a path absolute against the working directory; absolute paths come
// back unchanged.
std::string absolute_path(const std::string& path);

}  // namespace vardel
