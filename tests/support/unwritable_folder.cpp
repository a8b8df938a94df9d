#include "tests/support/unwritable_folder.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vardel::test {

namespace {

bool set_immutable(const std::string& folder, bool on, int& err) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    err = errno;
    if (fd >= 0) ::close(fd);
    return ok;
}

}  // namespace

UnwritableFolder::UnwritableFolder(const std::string& folder) : folder_(folder) {
    int err = 0;
    if (::geteuid() != 0) {
        ok_ = ::chmod(folder.c_str(), 0555) == 0;
        err = errno;
    } else {
        ok_ = immutable_ = set_immutable(folder, true, err);
    }
    if (!ok_) why_not_ = "cannot make " + folder + " unwritable: " + std::strerror(err);
}

UnwritableFolder::~UnwritableFolder() {
    if (!ok_) return;
    int err = 0;
    if (immutable_)
        set_immutable(folder_, false, err);
    else
        ::chmod(folder_.c_str(), 0755);
}

}  // namespace vardel::test
