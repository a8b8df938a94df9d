#pragma once
// The names inside a backup destination, where the service writes and the
// restore tool and the editor read: the output of each backup (cycle, sequence)
// and the state file "BACKUP.INI" with its section and keys. Names are
// relative to the destination folder. Constant data and pure functions; any
// thread.
#include <cstdint>
#include <string>

namespace vardel::destination {

// The state file and its one section.
inline constexpr const char* kStateFile = "BACKUP.INI";
inline constexpr const char* kSection = "BACKUPSET";

// Keys of the section.
inline constexpr const char* kName = "NAME";                        // the set's name
inline constexpr const char* kCycles = "CYCLES";                    // CyclesToSave as used
inline constexpr const char* kBackupsPerCycle = "BACKUPSPERCYCLE";  // BackupsPerCycle as used
inline constexpr const char* kSaveFormat = "SAVEFORMAT";            // 0 SAF, 1 ZIP, 2 discrete
inline constexpr const char* kSequence = "SEQUENCE";                // of the latest backup
inline constexpr const char* kCycle = "CYCLE";                      // of the latest backup
inline constexpr const char* kLastBackupTime = "LASTBACKUPTIME";    // seconds since 1970 (UTC)
inline constexpr const char* kFirstBackupTime = "FIRSTBACKUPTIME";  // the cycle's first backup
inline constexpr const char* kTrackDeleted = "TRACKDELETED";        // 0 or 1, fixed per cycle
inline constexpr const char* kEncode = "ENCODE";                    // 0 or 1: data encoded
// "BACKUPINSTANCE_%d_%d": the start time of backup (cycle, sequence).
std::string instance_key(int64_t cycle, int64_t sequence);
// "CHECKVALUE_%d_%d": the password check value of an encoded backup, so a
// wrong password is refused for ZIP and discrete backups too (readers that
// do not know the key ignore it). Written only for backups that encode.
std::string check_value_key(int64_t cycle, int64_t sequence);

// A backup's output.
std::string saf_archive(int64_t cycle, int64_t sequence);   // "B%d_%d.SAF"
std::string zip_archive(int64_t cycle, int64_t sequence);   // "B%d_%d.ZIP"
std::string files_folder(int64_t cycle, int64_t sequence);  // "B%d_%d", discrete copies
std::string list_file(int64_t cycle, int64_t sequence);     // "L%d_%d.TXT"

}  // namespace vardel::destination
