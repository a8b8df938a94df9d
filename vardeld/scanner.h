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

#include "platform/directory_reader.h"
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
    // What becomes of one regular file met by the walk.
    struct Plan {
        bool counted = false;    // past the masks: a file scanned
        bool hand_over = false;  // to the saver
        Selection sel;
        DirectoryCatalogue::FileRecord* rec = nullptr;
    };
    // One entry of a folder, as the walk found it.
    struct Child {
        enum class What { File, Dir, StatFailed } what = What::File;
        std::string name;
        platform::FileInfo info;  // a link's target for a linked file
        int error = 0;
        Plan plan;
    };
    Plan plan_file(const std::string& full, const std::string& name, const platform::FileInfo& info,
                   DirectoryCatalogue::DirRecord* dir);
    void take_file(const std::string& full, const std::string& name, const platform::FileInfo& info,
                   const Plan& plan, DirectoryCatalogue::DirRecord* dir, bool& saved_any);
    // Lists up to `limit` entries of the open folder into `children`; false
    // once the folder is done.
    bool list_some(platform::DirectoryReader& d, const std::string& scan_dir,
                   DirectoryCatalogue::DirRecord* dir, std::vector<Child>& children, size_t limit);
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
