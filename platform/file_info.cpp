#include "platform/file_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

namespace vardel::platform {

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDelta = 11644473600LL;

bool hidden_name(const std::string& path) {
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    size_t slash = path.rfind('/', end - 1);
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    return start < end && path[start] == '.' && path.compare(start, end - start, ".") != 0 &&
           path.compare(start, end - start, "..") != 0;
}

void fill(const struct statx& sx, const std::string& name, FileInfo& out) {
    mode_t m = sx.stx_mode;
    if (S_ISREG(m))
        out.kind = FileInfo::Kind::Regular;
    else if (S_ISDIR(m))
        out.kind = FileInfo::Kind::Directory;
    else if (S_ISLNK(m))
        out.kind = FileInfo::Kind::Symlink;
    else
        out.kind = FileInfo::Kind::Other;
    out.size = sx.stx_size;
    out.mode = m;
    out.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    out.inode = sx.stx_ino;
    out.mtime_sec = sx.stx_mtime.tv_sec;
    out.mtime_nsec = sx.stx_mtime.tv_nsec;
    out.ctime_sec = sx.stx_ctime.tv_sec;
    out.ctime_nsec = sx.stx_ctime.tv_nsec;
    out.owner = sx.stx_uid;
    out.times.last_write = filetime_from_unix(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    out.times.last_access = filetime_from_unix(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    out.times.creation = (sx.stx_mask & STATX_BTIME)
                             ? filetime_from_unix(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                             : out.times.last_write;
    uint32_t a = 0;
    if (!(m & S_IWUSR)) a |= kAttrReadOnly;
    if (hidden_name(name)) a |= kAttrHidden;
    if (out.kind == FileInfo::Kind::Directory)
        a |= kAttrDirectory;
    else if (out.kind != FileInfo::Kind::Regular)
        a |= kAttrSystem;
    if (a == 0) a = kAttrNormal;
    out.attributes = a;
}

constexpr unsigned kMask = STATX_BASIC_STATS | STATX_BTIME;

}  // namespace

bool stat_path(const std::string& path, FileInfo& out, int* error_number) {
    struct statx sx;
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, kMask, &sx) != 0) {
        if (error_number) *error_number = errno;
        return false;
    }
    fill(sx, path, out);
    return true;
}

bool stat_at(int dir_fd, const std::string& name, const std::string& path, FileInfo& out,
             int* error_number) {
    struct statx sx;
    if (::statx(dir_fd, name.c_str(), AT_SYMLINK_NOFOLLOW, kMask, &sx) != 0) {
        if (error_number) *error_number = errno;
        return false;
    }
    fill(sx, path, out);
    return true;
}

bool stat_path_following(const std::string& path, FileInfo& out, int* error_number) {
    struct statx sx;
    if (::statx(AT_FDCWD, path.c_str(), 0, kMask, &sx) != 0) {
        if (error_number) *error_number = errno;
        return false;
    }
    fill(sx, path, out);
    return true;
}

bool stat_descriptor(int fd, const std::string& name, FileInfo& out, int* error_number) {
    struct statx sx;
    if (::statx(fd, "", AT_EMPTY_PATH, kMask, &sx) != 0) {
        if (error_number) *error_number = errno;
        return false;
    }
    fill(sx, name, out);
    return true;
}

uint64_t filetime_from_unix(int64_t seconds, int64_t nanoseconds) {
    int64_t t = (seconds + kEpochDelta) * 10000000LL + nanoseconds / 100;
    return t < 0 ? 0 : static_cast<uint64_t>(t);
}

void unix_from_filetime(uint64_t filetime, int64_t& seconds, int64_t& nanoseconds) {
    int64_t units = static_cast<int64_t>(filetime / 10000000ULL);
    seconds = units - kEpochDelta;
    nanoseconds = static_cast<int64_t>(filetime % 10000000ULL) * 100;
}

namespace {
void to_timespecs(uint64_t access, uint64_t write, struct timespec ts[2]) {
    int64_t s, ns;
    unix_from_filetime(access, s, ns);
    ts[0].tv_sec = s;
    ts[0].tv_nsec = ns;
    unix_from_filetime(write, s, ns);
    ts[1].tv_sec = s;
    ts[1].tv_nsec = ns;
}
}  // namespace

bool set_file_times(const std::string& path, uint64_t last_access, uint64_t last_write) {
    struct timespec ts[2];
    to_timespecs(last_access, last_write, ts);
    return ::utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW) == 0;
}

bool set_descriptor_times(int fd, uint64_t last_access, uint64_t last_write) {
    struct timespec ts[2];
    to_timespecs(last_access, last_write, ts);
    return ::futimens(fd, ts) == 0;
}

}  // namespace vardel::platform
