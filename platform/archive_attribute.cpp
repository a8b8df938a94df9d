#include "platform/archive_attribute.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vardel::platform {

namespace {

constexpr const char* kName = "user.vardel.archive";

std::string record_of(const FileInfo& info) {
    char buf[128];
    std::snprintf(
        buf, sizeof buf, "%llu:%llu:%llu:%lld.%09lld", static_cast<unsigned long long>(info.device),
        static_cast<unsigned long long>(info.inode), static_cast<unsigned long long>(info.size),
        static_cast<long long>(info.mtime_sec), static_cast<long long>(info.mtime_nsec));
    return buf;
}

}  // namespace

ArchiveState archive_state(const std::string& path, const FileInfo& info) {
    char buf[128];
    ssize_t n = ::lgetxattr(path.c_str(), kName, buf, sizeof buf - 1);
    if (n < 0) return errno == ENOTSUP ? ArchiveState::Unsupported : ArchiveState::Set;
    buf[n] = '\0';
    return record_of(info) == buf ? ArchiveState::Clear : ArchiveState::Set;
}

bool clear_archive_attribute(const std::string& path, const FileInfo& info) {
    std::string rec = record_of(info);
    return ::lsetxattr(path.c_str(), kName, rec.data(), rec.size(), 0) == 0;
}

bool set_archive_attribute(const std::string& path) {
    return ::lremovexattr(path.c_str(), kName) == 0 || errno == ENODATA;
}

}  // namespace vardel::platform
