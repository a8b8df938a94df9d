#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/object_name.h"
#include "platform/paths.h"

namespace vardel::platform {

namespace {

std::string locks_dir(LockScope scope) {
    if (scope == LockScope::ThisUser) return private_runtime_subdir("locks");
    std::string dir = runtime_subdir("locks");
    // In the machine-wide run folder ordinary users must be able to make the
    // lock of a set they open (the restore tool); sticky, as /tmp is, so no
    // one removes another's file. Holding a lock only ever keeps one set
    // from running, as opening it in the restore tool does anyway.
    if (suite_paths().scope == StoreScope::MachineWide) {
        struct stat st;
        if (::stat(dir.c_str(), &st) == 0 && st.st_uid == geteuid() &&
            (st.st_mode & 07777) != 01777)
            ::chmod(dir.c_str(), 01777);
    }
    return dir;
}

}  // namespace

NamedMutex::NamedMutex(std::string_view name, LockScope scope)
    : name_(name), path_(locks_dir(scope) + "/" + object_file_name(name)) {
    // O_NOFOLLOW: in a folder others may write, a planted link must not
    // lead us to some other file. Nothing is ever written to the file.
    // O_CREAT only when it is missing: the kernel refuses O_CREAT on another
    // user's file in a sticky folder (fs.protected_regular), even to root.
    for (int attempt = 0; attempt < 3 && fd_ < 0; ++attempt) {
        fd_ = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd_ >= 0 || errno != ENOENT) break;
        fd_ = ::open(path_.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "lock file " + path_);
    struct stat st;
    if (scope == LockScope::ThisUser && (::fstat(fd_, &st) != 0 || st.st_uid != ::geteuid())) {
        ::close(fd_);
        fd_ = -1;
        throw std::system_error(EPERM, std::generic_category(),
                                "lock file " + path_ + " is not this account's own");
    }
}

NamedMutex::~NamedMutex() {
    if (fd_ >= 0) ::close(fd_);
}

bool NamedMutex::try_lock() {
    if (owned_) return true;
    int rc;
    do rc = ::flock(fd_, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc == 0) return owned_ = true;
    if (errno == EWOULDBLOCK) return false;
    throw std::system_error(errno, std::generic_category(), "lock " + path_);
}

void NamedMutex::unlock() {
    if (!owned_) return;
    ::flock(fd_, LOCK_UN);
    owned_ = false;
}

}  // namespace vardel::platform
