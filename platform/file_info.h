#pragma once
// What the suite needs to know of a file, in the suite's own terms: Windows
// attribute bits and FILETIME times (100 ns units since 1601-01-01 UTC).
//   read-only 0x01  owner may not write
//   hidden    0x02  name begins with "."
//   system    0x04  neither a regular file nor a directory
//   directory 0x10
//   archive   0x20  (the suite's own marker; see archive_attribute.h)
//   normal    0x80  no other bit set
// Times: last-write = mtime, last-access = atime, creation = the birth time
// where the file system keeps one, else mtime. Thread-safe.
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace vardel::platform {

inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrNormal = 0x80;

struct FileTimes {
    uint64_t creation = 0;
    uint64_t last_access = 0;
    uint64_t last_write = 0;
};

struct FileInfo {
    enum class Kind { Regular, Directory, Symlink, Other };
    Kind kind = Kind::Other;
    uint64_t size = 0;
    uint32_t attributes = 0;  // without the archive bit
    FileTimes times;
    int64_t mtime_sec = 0;  // for change checks and selection, exact to the nanosecond
    int64_t mtime_nsec = 0;
    // Status change: moves on with every change and cannot be set back, so
    // an edit that put mtime back still shows here.
    int64_t ctime_sec = 0;
    int64_t ctime_nsec = 0;
    mode_t mode = 0;  // type and permission bits as stat gives them
    uid_t owner = 0;
    dev_t device = 0;
    ino_t inode = 0;

    bool is_directory() const { return kind == Kind::Directory; }
    bool is_regular() const { return kind == Kind::Regular; }
    // The same file, unchanged since `other` was taken: device, inode, size,
    // and mtime and ctime to the nanosecond.
    bool unchanged_since(const FileInfo& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               mtime_sec == other.mtime_sec && mtime_nsec == other.mtime_nsec &&
               ctime_sec == other.ctime_sec && ctime_nsec == other.ctime_nsec;
    }
};

// Stats `path` without following a final symbolic link. On failure returns
// false and sets *error_number (when given) to errno.
bool stat_path(const std::string& path, FileInfo& out, int* error_number = nullptr);
// The same for `name` in the open folder `dir_fd` (no walk of the path
// from the root); `path` (the folder's path and the name) names it in out.
bool stat_at(int dir_fd, const std::string& name, const std::string& path, FileInfo& out,
             int* error_number = nullptr);
// The same, following symbolic links to what they name.
bool stat_path_following(const std::string& path, FileInfo& out, int* error_number = nullptr);
// Stats an open descriptor; `name` gives the hidden bit.
bool stat_descriptor(int fd, const std::string& name, FileInfo& out, int* error_number = nullptr);

uint64_t filetime_from_unix(int64_t seconds, int64_t nanoseconds);
// Whole seconds since 1970 (rounded down) and the remaining nanoseconds.
void unix_from_filetime(uint64_t filetime, int64_t& seconds, int64_t& nanoseconds);

// Sets atime and mtime from FILETIMEs (Linux cannot set a birth time).
// False and errno on failure.
bool set_file_times(const std::string& path, uint64_t last_access, uint64_t last_write);
bool set_descriptor_times(int fd, uint64_t last_access, uint64_t last_write);

}  // namespace vardel::platform
