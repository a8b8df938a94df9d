#include "tests/support/tiny_fs.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace vardel::test {

TinyFs::TinyFs(const std::string& mount_point, size_t bytes, const std::string& source)
    : dir_(mount_point) {
    std::error_code ec;
    std::filesystem::create_directories(dir_, ec);
    std::string opts = "size=" + std::to_string(bytes) + ",mode=0777";
    if (::mount(source.c_str(), dir_.c_str(), "tmpfs", 0, opts.c_str()) == 0) {
        mounted_ = true;
    } else {
        why_not_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
    }
}

TinyFs::~TinyFs() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
}

}  // namespace vardel::test
