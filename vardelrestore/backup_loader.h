#pragma once
// Loading: the backups a catalogue node stands for, read into the version
// table. A cycle node stands for all its backups, a save node for the chain
// of backups 1 up to it, and with `single` only for its own backup (a cycle
// node's last one). Holds the set's lock from a successful load on, so the
// service never writes what is being read here.
//
// Runs on the loading thread; the table and the lock are the caller's and
// are not touched by anyone else meanwhile.
#include <optional>

#include "common/set_lock.h"
#include "vardelrestore/catalogue.h"
#include "vardelrestore/restore_ui.h"
#include "vardelrestore/version_table.h"

namespace vardel {

class BackupLoader {
  public:
    enum class Outcome {
        Loaded,
        InUse,    // another program holds the set: told, nothing loaded
        NoState,  // "BACKUP.INI" unreadable or not a Directory destination
    };

    BackupLoader(VersionTable& table, std::optional<SetLock>& lock, RestoreUi& ui)
        : table_(table), lock_(lock), ui_(ui) {}

    Outcome load(const CatalogueNode& node, bool single);

    // One backup (cycle, save), its records added to the table (which
    // finish() must then sort). Throws MyError when its SAF archive cannot be
    // opened; damage inside an archive is told and ends that archive only.
    void read_backup(const CatalogueNode& node, int32_t save, int64_t save_time);

    // The stored path of a discrete copy, from its path inside the backup's
    // folder: the folder stands for the root.
    static std::string discrete_record_path(std::string_view inside_folder);
    // The stored path of a ZIP entry: the service stores absolute paths
    // without their leading "/".
    static std::string zip_record_path(std::string_view entry_name);

  private:
    void read_saf(const CatalogueNode& node, int32_t save, int64_t save_time);
    bool read_zip(const CatalogueNode& node, int32_t save, int64_t save_time);
    bool read_discrete(const CatalogueNode& node, int32_t save, int64_t save_time);
    void read_list_file(const CatalogueNode& node, int32_t save, int64_t save_time);

    VersionTable& table_;
    std::optional<SetLock>& lock_;
    RestoreUi& ui_;
};

}  // namespace vardel
