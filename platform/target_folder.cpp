#include "platform/target_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>
#include <utility>

#include "platform/file.h"

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

bool TargetFolder::open_child(const std::string& name, bool create, TargetFolder& out,
                              int* error) const {
    if (create && ::mkdirat(fd_, name.c_str(), 0777) != 0 && errno != EEXIST) return failed(error);
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
