#include "platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace vardel::platform {

File::~File() {
    close();
}

File::File(File&& o) noexcept : fd_(o.fd_), error_(o.error_), path_(std::move(o.path_)) {
    o.fd_ = -1;
}

File& File::operator=(File&& o) noexcept {
    if (this != &o) {
        close();
        fd_ = std::exchange(o.fd_, -1);
        error_ = o.error_;
        path_ = std::move(o.path_);
    }
    return *this;
}

bool File::open(const std::string& path, OpenMode mode, mode_t mode_bits) {
    return open_at(AT_FDCWD, path, mode, mode_bits, path);
}

bool File::open_at(int dir_fd, const std::string& name, OpenMode mode, mode_t mode_bits,
                   const std::string& display_path) {
    close();
    path_ = display_path.empty() ? name : display_path;
    const std::string& path = name;
    int flags = O_CLOEXEC;
    switch (mode) {
        case OpenMode::Read:
            flags |= O_RDONLY | O_NONBLOCK;
            break;
        case OpenMode::ReadKeepAccessTime:
            flags |= O_RDONLY | O_NONBLOCK | O_NOATIME;
            break;
        case OpenMode::ReadWrite:
            flags |= O_RDWR;
            break;
        case OpenMode::CreateReplace:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            break;
        case OpenMode::CreateKeep:
            flags |= O_RDWR | O_CREAT;
            break;
        case OpenMode::CreateReplaceNoFollow:
            flags |= O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW;
            break;
        case OpenMode::CreateNew:
            flags |= O_RDWR | O_CREAT | O_EXCL;
            break;
        case OpenMode::CreateUnnamed:
            flags |= O_RDWR | O_TMPFILE;
            break;
        case OpenMode::Folder:
            flags |= O_RDONLY | O_DIRECTORY;
            break;
    }
    do {
        fd_ = ::openat(dir_fd, path.c_str(), flags, mode_bits);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0 && errno == EPERM && mode == OpenMode::ReadKeepAccessTime) {
        // Not the owner: read it the ordinary way.
        flags &= ~O_NOATIME;
        do {
            fd_ = ::openat(dir_fd, path.c_str(), flags, mode_bits);
        } while (fd_ < 0 && errno == EINTR);
    }
    if (fd_ < 0 && errno == ELOOP && mode == OpenMode::CreateReplaceNoFollow) {
        // A link stands there: replace the link itself, and create anew so
        // that a link put back in the meantime is not followed either.
        if (::unlinkat(dir_fd, path.c_str(), 0) == 0 || errno == ENOENT) {
            do {
                fd_ = ::openat(dir_fd, path.c_str(), O_CLOEXEC | O_RDWR | O_CREAT | O_EXCL,
                               mode_bits);
            } while (fd_ < 0 && errno == EINTR);
        }
    }
    if (fd_ < 0) {
        error_ = errno;
        return false;
    }
    // O_NONBLOCK stays: it kept a FIFO from blocking the open, and it keeps
    // one put in a file's place from blocking a read; regular files and
    // folders ignore it.
    error_ = 0;
    return true;
}

void File::adopt(int fd, const std::string& path) {
    close();
    fd_ = fd;
    error_ = 0;
    path_ = path;
}

bool File::fail_open(const std::string& path, int error_number) {
    close();
    path_ = path;
    error_ = error_number;
    return false;
}

void File::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

ssize_t File::read(void* buf, size_t n) {
    size_t done = 0;
    auto* p = static_cast<char*>(buf);
    while (done < n) {
        ssize_t r = ::read(fd_, p + done, n - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return -1;
        }
        if (r == 0) break;
        done += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

bool File::write_all(const void* buf, size_t n) {
    const auto* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t w = ::write(fd_, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            error_ = w < 0 ? errno : ENOSPC;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

ssize_t File::pread(void* buf, size_t n, uint64_t offset) {
    size_t done = 0;
    auto* p = static_cast<char*>(buf);
    while (done < n) {
        ssize_t r = pread_once(p + done, n - done, offset + done);
        if (r < 0) return -1;
        if (r == 0) break;
        done += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

ssize_t File::pread_once(void* buf, size_t n, uint64_t offset) {
    ssize_t r;
    do {
        r = ::pread(fd_, buf, n, static_cast<off_t>(offset));
    } while (r < 0 && errno == EINTR);
    if (r < 0) error_ = errno;
    return r;
}

bool File::pwrite_all(const void* buf, size_t n, uint64_t offset) {
    const auto* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t w = ::pwrite(fd_, p, n, static_cast<off_t>(offset));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            error_ = w < 0 ? errno : ENOSPC;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
        offset += static_cast<uint64_t>(w);
    }
    return true;
}

bool File::seek(uint64_t offset) {
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
        error_ = errno;
        return false;
    }
    return true;
}

bool File::seek_end(uint64_t* new_offset) {
    off_t r = ::lseek(fd_, 0, SEEK_END);
    if (r < 0) {
        error_ = errno;
        return false;
    }
    if (new_offset) *new_offset = static_cast<uint64_t>(r);
    return true;
}

bool File::truncate(uint64_t length) {
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
        error_ = errno;
        return false;
    }
    return true;
}

bool File::sync() {
    if (::fsync(fd_) != 0) {
        error_ = errno;
        return false;
    }
    return true;
}

ssize_t File::copy_to(File& out, size_t n) {
    for (;;) {
        ssize_t r = ::copy_file_range(fd_, nullptr, out.fd_, nullptr, n, 0);
        if (r >= 0) return r;
        if (errno == EINTR) continue;
        error_ = errno;
        return -1;
    }
}

bool File::lock_shared() {
    while (::flock(fd_, LOCK_SH | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        return false;
    }
    return true;
}

bool File::lock_exclusive() {
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        return false;
    }
    return true;
}

bool File::read_lock_whole() {
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;  // to the end, however the file grows
    if (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) {
        error_ = errno;
        return false;
    }
    return true;
}

bool File::set_mode(mode_t mode) {
    if (::fchmod(fd_, mode) != 0) {
        error_ = errno;
        return false;
    }
    return true;
}

int64_t File::size() {
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
        error_ = errno;
        return -1;
    }
    return st.st_size;
}

int64_t File::position() {
    off_t r = ::lseek(fd_, 0, SEEK_CUR);
    if (r < 0) error_ = errno;
    return r;
}

ReadStatus read_regular_file(int dir_fd, const std::string& name, std::string& out, Links links,
                             int* error_number) {
    out.clear();
    int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (links == Links::NoFollow ? O_NOFOLLOW : 0);
    int fd;
    do fd = ::openat(dir_fd, name.c_str(), flags);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (error_number) *error_number = errno;
        if (errno == ENOENT) return ReadStatus::Missing;
        return errno == ELOOP ? ReadStatus::NotRegular : ReadStatus::Failed;
    }
    File file;
    file.adopt(fd, name);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        if (error_number) *error_number = errno;
        return ReadStatus::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        if (error_number) *error_number = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return ReadStatus::NotRegular;
    }
    int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    char buf[65536];
    while (true) {
        ssize_t n = file.read(buf, sizeof buf);
        if (n < 0) {
            // A file read in part is no state to act on.
            if (error_number) *error_number = file.error();
            out.clear();
            return ReadStatus::Failed;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
        if (static_cast<size_t>(n) < sizeof buf) break;
    }
    return ReadStatus::Read;
}

ReadStatus read_regular_file(const std::string& path, std::string& out, Links links,
                             int* error_number) {
    return read_regular_file(AT_FDCWD, path, out, links, error_number);
}

bool sync_parent_directory(const std::string& path, int* error_number) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0 || ::fsync(dfd) != 0) {
        if (error_number) *error_number = errno;
        if (dfd >= 0) ::close(dfd);
        return false;
    }
    ::close(dfd);
    return true;
}

}  // namespace vardel::platform

namespace vardel::platform {

bool sync_file_system(const std::string& path, int* error_number) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 || ::syncfs(fd) != 0) {
        if (error_number) *error_number = errno;
        if (fd >= 0) ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace vardel::platform
