#pragma once
// Extraction: the chosen versions copied out of the loaded backups into a
// folder of the user's, each item's path rebuilt below it, and recorded
// deletions carried out there.
//
// Names in a backup are outside input: a path with a ".." component is
// refused, every folder is reached from the target folder's descriptor
// without following a link, and each file is written under a temporary
// name and renamed into place once whole, so nothing is ever written
// outside the target folder and a failed or cancelled extraction never
// costs a file already there. A wrong password is refused before anything
// is written, where the backup allows a check (SAF archives, and ZIP and
// discrete backups whose state records a check value).
//
// Runs on the extraction thread; the table, node and stop flag are shared
// with the window, which touches none of them until run() returns (but for
// setting the stop flag).
#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/ini_document.h"
#include "platform/target_folder.h"
#include "vardelrestore/catalogue.h"
#include "vardelrestore/restore_ui.h"
#include "vardelrestore/version_table.h"

namespace vardel {

class SafReader;
class ZipReader;

struct ExtractOptions {
    enum class Overwrite { All = 0, None = 1, Prompt = 2 };
    std::string base_directory;      // dropped from the front of stored paths
    bool ignore_other_files = true;  // skip items outside the base directory
    std::string target_folder;       // where items are rebuilt
    Overwrite overwrite = Overwrite::Prompt;
    std::string password;  // for an encoded node
};

// Where a stored path goes below the target folder.
struct TargetPlan {
    enum Kind { Write, Skip, Unsafe } kind = Skip;
    std::vector<std::string> folders;  // components below the target folder
    std::string name;                  // the last component
};
TargetPlan plan_target(std::string_view stored_path, const ExtractOptions& options);

// The base directory the dialog proposes: the longest start every path
// shares (compared exactly), cut back to end at its last "/".
std::string propose_base_directory(const std::vector<std::string_view>& paths);

class Extractor {
  public:
    enum class Deletion { All = 0, None = 1, Prompt = 2 };

    Extractor(const CatalogueNode& node, const VersionTable& table, ExtractOptions options,
              RestoreUi& ui, std::atomic<bool>& stop);
    ~Extractor();
    // Processes the records (indexes into the table) in list order. True for
    // "Copy completed", false for "Copy aborted" (stop set, or a failure).
    bool run(const std::vector<uint32_t>& records);
    // Items that could not be extracted or deleted for an error (told one by
    // one): a "Copy completed" with failures is not a full success.
    size_t failed_items() const { return failed_; }
    // With deletions decided beforehand (the command line); default: prompt.
    void set_deletion(Deletion d) { deletion_ = d; }

    // Of a run of rows with the same path and action only the last counts.
    static std::vector<uint32_t> rows_to_process(const VersionTable& table,
                                                 const std::vector<uint32_t>& records);

  private:
    bool check_passwords(const std::vector<uint32_t>& records);
    bool extract_saved(const VersionRecord& r);
    bool delete_item(const VersionRecord& r);
    // The folder that holds a plan's item; false (after telling why, unless
    // `quiet`) when it cannot be reached.
    bool reach_folder(const TargetPlan& plan, bool create, const platform::TargetFolder*& out);
    bool unsafe(const VersionRecord& r);
    bool write_saf(const VersionRecord& r, const platform::TargetFolder& folder,
                   const std::string& name, bool replacing);
    bool write_zip(const VersionRecord& r, const platform::TargetFolder& folder,
                   const std::string& name, bool replacing);
    bool write_discrete(const VersionRecord& r, const platform::TargetFolder& folder,
                        const std::string& name, bool replacing);
    // Makes the file to write: unnamed for a new item, else under a
    // temporary name (`temp`, "" for unnamed). False with Cancel answered,
    // true otherwise (`made` tells whether there is a file to write).
    bool make_temp(const platform::TargetFolder& folder, const std::string& name,
                   platform::File& out, std::string& temp, mode_t mode, bool replacing, bool& made);
    static void discard(const platform::TargetFolder& folder, const std::string& temp);
    // Times, flush and the name; false when it fails (told, temporary removed).
    bool put_in_place(const platform::TargetFolder& folder, platform::File& out,
                      const std::string& temp, const std::string& name, uint64_t last_access,
                      uint64_t last_write, bool replacing);

    const CatalogueNode& node_;
    const VersionTable& table_;
    ExtractOptions options_;
    RestoreUi& ui_;
    std::atomic<bool>& stop_;
    Deletion deletion_ = Deletion::Prompt;
    IniDocument state_;

    platform::TargetFolder root_;
    std::vector<std::string> open_names_;             // the folders open below the root
    std::vector<platform::TargetFolder> open_chain_;  // [0] is a copy-free view of root_

    int32_t open_save_ = -1;  // the backup whose container is open
    std::unique_ptr<SafReader> saf_;
    std::unique_ptr<ZipReader> zip_;
    std::vector<char> buffer_;
    size_t failed_ = 0;
};

}  // namespace vardel
