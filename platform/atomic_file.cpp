#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/file.h"

namespace vardel::platform {

namespace {

// Unique among the threads of this process and, by the random part, among
// processes.
std::string temp_name_beside(const std::string& target, std::string_view tag) {
    static std::atomic<unsigned> counter{0};
    static thread_local std::random_device rd;
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    char tail[64];
    std::snprintf(tail, sizeof tail, "-%08x%04x.tmp", static_cast<unsigned>(rd()),
                  counter.fetch_add(1) & 0xFFFFu);
    // The target's name stays in it, so errors and leftovers say whose it is.
    return folder + "." + name + ".vardel-" + std::string(tag) + tail;
}

}  // namespace

bool create_temp_beside(const std::string& target, File& file, std::string& temp,
                        std::string_view tag, mode_t mode) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = temp_name_beside(target, tag);
        if (file.open(temp, OpenMode::CreateNew, mode)) return true;
        if (file.error() != EEXIST) return false;
    }
    return false;
}

int AtomicWriteOps::open_temp(const std::string& path, mode_t mode) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
}
ssize_t AtomicWriteOps::write(int fd, const void* data, size_t len) {
    return ::write(fd, data, len);
}
int AtomicWriteOps::sync(int fd) {
    return ::fsync(fd);
}
int AtomicWriteOps::rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str());
}

namespace {

bool fail(std::string* error, const std::string& what, const std::string& path, int err) {
    if (error) *error = what + " " + path + ": " + std::strerror(err);
    return false;
}

}  // namespace

bool write_file_atomically(const std::string& path, std::string_view data, std::string* error,
                           AtomicWriteOps* ops, mode_t new_file_mode) {
    AtomicWriteOps real;
    if (!ops) ops = &real;

    mode_t mode = new_file_mode;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

    // A name of its own, so two writers of one file never share a temporary.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = temp_name_beside(path, "save");
        fd = ops->open_temp(temp, mode);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return fail(error, "Can't create", temp, errno);

    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ops->write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(temp.c_str());
            return fail(error, "Can't write", temp, err);
        }
        done += static_cast<size_t>(n);
    }
    if (ops->sync(fd) != 0) {
        int err = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        return fail(error, "Can't flush", temp, err);
    }
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return fail(error, "Can't close", temp, err);
    }
    if (ops->rename(temp, path) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return fail(error, "Can't replace", path, err);
    }
    // The rename itself must reach the disk too.
    std::string dir = path.substr(0, path.rfind('/') == std::string::npos ? 0 : path.rfind('/'));
    if (dir.empty()) dir = path.find('/') == 0 ? "/" : ".";
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

}  // namespace vardel::platform
