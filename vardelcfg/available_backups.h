#pragma once
// What each set's destination holds, as its "BACKUP.INI" records it: per
// set the cycles that have a first backup, and in each the backups there
// are, with their times. A set whose state file cannot be read has no
// entry. Reads the destinations; one thread.
#include <cstdint>
#include <string>
#include <vector>

#include "common/backup_set_table.h"

namespace vardel {

struct AvailableBackup {
    std::string set_name;
    int32_t cycle = 0;
    int32_t backup = 0;
    int64_t time = 0;  // seconds since 1970
    std::string text;  // "Instance %d as of %s"
};

struct AvailableCycle {
    int32_t cycle = 0;
    std::string text;  // "Cycle %d"
    std::vector<AvailableBackup> backups;
};

struct AvailableSet {
    std::string set_name;
    std::vector<AvailableCycle> cycles;
};

std::vector<AvailableSet> available_backups(const BackupSetTable& sets);

}  // namespace vardel
