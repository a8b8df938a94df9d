#pragma once
// The archive attribute, kept as the extended attribute user.vardel.archive.
// Clearing it records the file's device, inode, size, modification time and
// a bound on its status-change time; the attribute counts as set when that
// record is missing or differs from the file now (a new, copied or changed
// file, or one whose mtime was set back after an edit: its ctime is later). Clearing changes
// neither the file's data nor its times. Where the file system refuses extended attributes the
// attribute always counts as set, so no file is ever missed.
#include <string>

#include "platform/file_info.h"

namespace vardel::platform {

enum class ArchiveState { Set, Clear, Unsupported };

// `info` is the file's current stat (from stat_path).
ArchiveState archive_state(const std::string& path, const FileInfo& info);
inline bool archive_attribute_set(const std::string& path, const FileInfo& info) {
    return archive_state(path, info) != ArchiveState::Clear;
}
// Records the file as backed up, unless it changed since `info` was taken.
// False with errno when the file system refuses (ENOTSUP) or the file is not
// writable for attributes.
bool clear_archive_attribute(const std::string& path, const FileInfo& info);
// Forgets the record, for tests and tools.
bool set_archive_attribute(const std::string& path);

}  // namespace vardel::platform
