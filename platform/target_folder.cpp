#include "platform/target_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>

#include "platform/file.h"
#include "platform/file_info.h"

namespace vardel::platform {

namespace {

bool failed(int* error) {
    if (error) *error = errno;
    return false;
}

}  // namespace

TargetFolder::~TargetFolder() {
    close();
}

TargetFolder::TargetFolder(TargetFolder&& o) noexcept
    : fd_(std::exchange(o.fd_, -1)), path_(std::move(o.path_)) {}

TargetFolder& TargetFolder::operator=(TargetFolder&& o) noexcept {
    if (this != &o) {
        close();
        fd_ = std::exchange(o.fd_, -1);
        path_ = std::move(o.path_);
    }
    return *this;
}

void TargetFolder::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool TargetFolder::open(const std::string& path, int* error) {
    close();
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return failed(error);
    fd_ = fd;
    path_ = path;
    if (path_.empty() || path_.back() != '/') path_.push_back('/');
    return true;
}

bool TargetFolder::open_child(const std::string& name, bool create, TargetFolder& out, int* error,
                              mode_t mode) const {
    if (create && ::mkdirat(fd_, name.c_str(), mode) != 0 && errno != EEXIST) return failed(error);
    int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return failed(error);
    out.close();
    out.fd_ = fd;
    out.path_ = path_ + name + "/";
    return true;
}

TargetFolder::Entry TargetFolder::entry(const std::string& name, int* error) const {
    struct stat st;
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (error) *error = errno;
        return Entry::None;
    }
    if (S_ISREG(st.st_mode)) return Entry::File;
    if (S_ISDIR(st.st_mode)) return Entry::Folder;
    return Entry::Other;
}

bool TargetFolder::create_temp(const std::string& name, File& file, std::string& temp,
                               std::string_view tag, mode_t mode) const {
    static std::atomic<unsigned> counter{0};
    static thread_local std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char tail[64];
        std::snprintf(tail, sizeof tail, "-%08x%04x.tmp", static_cast<unsigned>(rd()),
                      counter.fetch_add(1) & 0xFFFFu);
        temp = "." + name + ".vardel-" + std::string(tag) + tail;
        // A name as long as the longest allowed would not fit with the
        // additions: shorten the copy of the name, not the suffix.
        if (temp.size() > 255)
            temp = "." + name.substr(0, 200) + ".vardel-" + std::string(tag) + tail;
        if (file.open_at(fd_, temp, OpenMode::CreateNew, mode, path_ + temp)) return true;
        if (file.error() != EEXIST) return false;
    }
    return false;
}

bool TargetFolder::create_unnamed(File& file, mode_t mode) const {
    return file.open_at(fd_, ".", OpenMode::CreateUnnamed, mode, path_);
}

bool TargetFolder::link_unnamed(const File& file, const std::string& name, int* error) const {
    // AT_EMPTY_PATH would need a privilege; the descriptor's /proc link does not.
    std::string self = "/proc/self/fd/" + std::to_string(file.fd());
    return ::linkat(AT_FDCWD, self.c_str(), fd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
           failed(error);
}

bool TargetFolder::reopen(TargetFolder& out, int* error) const {
    int fd = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return failed(error);
    out.close();
    out.fd_ = fd;
    out.path_ = path_;
    return true;
}

bool TargetFolder::stat(FileInfo& out, int* error) const {
    return stat_descriptor(fd_, path_, out, error);
}

bool TargetFolder::stat_entry(const std::string& name, FileInfo& out, int* error) const {
    int fd = ::openat(fd_, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return failed(error);
    bool ok = stat_descriptor(fd, name, out, error);
    ::close(fd);
    return ok;
}

namespace {

// Every name in the folder open as `fd` (which stays open).
bool names_in(int fd, std::vector<std::string>& names, int* error) {
    names.clear();
    int dup = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dup < 0) return failed(error);
    DIR* d = ::fdopendir(dup);
    if (!d) {
        int err = errno;
        ::close(dup);
        if (error) *error = err;
        return false;
    }
    errno = 0;
    while (dirent* e = ::readdir(d)) {
        std::string_view n = e->d_name;
        if (n != "." && n != "..") names.emplace_back(n);
    }
    int err = errno;
    ::closedir(d);
    if (err) {
        if (error) *error = err;
        return false;
    }
    return true;
}

// Empties the folder open as `fd`, descending only into folders of `owner`.
bool empty_folder(int fd, uid_t owner, int* error) {
    std::vector<std::string> names;
    if (!names_in(fd, names, error)) return false;
    for (const std::string& n : names) {
        struct stat st;
        if (::fstatat(fd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;
            return failed(error);
        }
        if (S_ISDIR(st.st_mode)) {
            if (st.st_uid != owner) {
                if (error) *error = EPERM;
                return false;
            }
            int child = ::openat(fd, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0) return failed(error);
            bool ok = empty_folder(child, owner, error);
            ::close(child);
            if (!ok) return false;
            if (::unlinkat(fd, n.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
                return failed(error);
        } else if (::unlinkat(fd, n.c_str(), 0) != 0 && errno != ENOENT) {
            return failed(error);
        }
    }
    return true;
}

}  // namespace

bool TargetFolder::list(std::vector<std::string>& names, int* error) const {
    return names_in(fd_, names, error);
}

bool TargetFolder::replace_file(const std::string& name, File& file, mode_t mode,
                                int* error) const {
    // O_EXCL first: a free name (the common case) needs nothing cleared.
    // Another process may put a link back at once: O_EXCL then fails, and
    // the name is cleared again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (file.open_at(fd_, name, OpenMode::CreateNew, mode, path_ + name)) return true;
        if (file.error() != EEXIST) {
            if (error) *error = file.error();
            return false;
        }
        if (::unlinkat(fd_, name.c_str(), 0) != 0 && errno != ENOENT) return failed(error);
    }
    if (error) *error = EEXIST;
    return false;
}

ReadStatus TargetFolder::read_file(const std::string& name, std::string& out, int* error) const {
    return read_regular_file(fd_, name, out, Links::NoFollow, error);
}

bool TargetFolder::write_file(const std::string& name, std::string_view data, mode_t mode,
                              std::string* error, int* error_number) const {
    auto fail = [&](const char* what, const std::string& which, int err) {
        if (error) *error = std::string(what) + " " + path_ + which + ": " + std::strerror(err);
        if (error_number) *error_number = err;
        return false;
    };
    File file;
    std::string temp;
    if (!create_temp(name, file, temp, "save", mode))
        return fail("Can't create", temp, file.error());
    if (!file.write_all(data.data(), data.size()) || !file.sync()) {
        int err = file.error();
        file.close();
        ::unlinkat(fd_, temp.c_str(), 0);
        return fail("Can't write", temp, err);
    }
    file.close();
    if (::renameat(fd_, temp.c_str(), fd_, name.c_str()) != 0) {
        int err = errno;
        ::unlinkat(fd_, temp.c_str(), 0);
        return fail("Can't replace", name, err);
    }
    // The rename itself must reach the disk too.
    ::fsync(fd_);
    return true;
}

bool TargetFolder::remove_tree(const std::string& name, int* error) const {
    struct stat st;
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT || failed(error);
    if (!S_ISDIR(st.st_mode))
        return ::unlinkat(fd_, name.c_str(), 0) == 0 || errno == ENOENT || failed(error);
    const uid_t owner = ::geteuid();
    if (st.st_uid != owner) {
        if (error) *error = EPERM;
        return false;
    }
    int child = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child < 0) return failed(error);
    bool ok = empty_folder(child, owner, error);
    ::close(child);
    if (!ok) return false;
    return ::unlinkat(fd_, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT || failed(error);
}

bool TargetFolder::sync_file_system(int* error) const {
    return ::syncfs(fd_) == 0 || failed(error);
}

bool TargetFolder::rename(const std::string& from, const std::string& to, int* error) const {
    return ::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0 || failed(error);
}

bool TargetFolder::remove_file(const std::string& name, int* error) const {
    return ::unlinkat(fd_, name.c_str(), 0) == 0 || failed(error);
}

bool TargetFolder::remove_folder(const std::string& name, int* error) const {
    return ::unlinkat(fd_, name.c_str(), AT_REMOVEDIR) == 0 || failed(error);
}

bool TargetFolder::sync(int* error) const {
    return ::fsync(fd_) == 0 || failed(error);
}

}  // namespace vardel::platform
