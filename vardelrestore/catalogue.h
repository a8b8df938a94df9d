#pragma once
// The tree of what can be restored: one root per backup set, one child per
// cycle its "BACKUP.INI" records, and under each cycle one child per saved
// backup. Nodes are kept in tree order (a root, its first cycle, that
// cycle's saves, the next cycle, ...); "Add Backup Set to List" appends a
// root with its children.
//
// Plain data, no locks: built on the GUI thread (or the command line's).
#include <cstdint>
#include <string>
#include <vector>

#include "common/backup_set_table.h"
#include "common/ini_document.h"

namespace vardel {

struct CatalogueNode {
    enum Level { Set = 0, Cycle = 1, Save = 2 };

    std::string set_name;
    std::string destination;  // the folder, ending in "/"
    int32_t destination_type = 1;
    Level level = Set;
    int32_t cycle = 0;
    int32_t save = 0;
    int32_t backups_per_cycle = 1;
    int32_t cycles = 1;
    int32_t save_format = 0;  // 0 SAF, 1 ZIP, 2 discrete files
    int64_t save_time = 0;    // seconds since 1970; a cycle's is its save 1's
    bool encoded = false;
    size_t parent = 0;  // index of the parent node (a root's own index)

    // "Nightly", "Cycle 2", "Save 3, as of Sun Jan 05 2025 14:03:09".
    std::string label() const;
    // Reading and extraction act only on Directory destinations.
    bool loadable() const;
};

class Catalogue {
  public:
    // Adds every set of the table, in table order, whose destination holds a
    // readable "BACKUP.INI"; others get no node.
    void build(const BackupSetTable& sets);

    enum class AddResult { Added, Unreadable, NotABackupIni };
    // "Add Backup Set to List": the set a chosen "BACKUP.INI" describes,
    // named uniquely (" 1", " 2", ... appended while the name is shown
    // already) and read from the file's folder. `root` gets the new root's
    // index. Unreadable: "Can't load specified INI"; NotABackupIni: "Not a
    // valid vardel backup INI, or values are missing" (both titled "Error!").
    AddResult add_from_ini(const std::string& ini_path, size_t* root = nullptr);

    const std::vector<CatalogueNode>& nodes() const { return nodes_; }
    size_t size() const { return nodes_.size(); }
    const CatalogueNode& operator[](size_t i) const { return nodes_[i]; }

    // The root of a set named `name` (without regard to case), or none.
    std::optional<size_t> find_set(std::string_view name) const;
    // Below `root`: the cycle node of `cycle`, or the save node (cycle, save)
    // when `save` > 0; none when the backup is not recorded.
    std::optional<size_t> find(size_t root, int32_t cycle, int32_t save = 0) const;
    // The node of the newest backup below `root` (the state's CYCLE and
    // SEQUENCE): its cycle node, or none when nothing is recorded.
    std::optional<size_t> latest_cycle(size_t root) const;

  private:
    // Appends the root and the cycle and save nodes `state` records.
    size_t add_set(CatalogueNode root, const IniDocument& state);

    std::vector<CatalogueNode> nodes_;
    std::vector<int32_t> latest_cycle_;  // per node; meaningful for roots
};

}  // namespace vardel
