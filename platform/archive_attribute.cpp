#include "platform/archive_attribute.h"

#include <cstdlib>

#include <sys/xattr.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vardel::platform {

namespace {

constexpr const char* kName = "user.vardel.archive";

// Device, inode, size and mtime: what the file was when it was saved.
std::string record_of(const FileInfo& info) {
    char buf[128];
    std::snprintf(
        buf, sizeof buf, "%llu:%llu:%llu:%lld.%09lld", static_cast<unsigned long long>(info.device),
        static_cast<unsigned long long>(info.inode), static_cast<unsigned long long>(info.size),
        static_cast<long long>(info.mtime_sec), static_cast<long long>(info.mtime_nsec));
    return buf;
}

int64_t coarse_now_ns() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// One tick of the coarse clock. Kernels with fine-grained time stamps
// (multigrain ctime, Linux 6.6 on) may give the setting itself a time up to
// a tick past the coarse clock read before it.
int64_t coarse_tick_ns() {
    timespec res{};
    ::clock_getres(CLOCK_REALTIME_COARSE, &res);
    return static_cast<int64_t>(res.tv_sec) * 1000000000 + res.tv_nsec;
}

int64_t ctime_ns(const FileInfo& info) {
    return info.ctime_sec * 1000000000 + info.ctime_nsec;
}

}  // namespace

ArchiveState archive_state(const std::string& path, const FileInfo& info) {
    char buf[160];
    ssize_t n = ::lgetxattr(path.c_str(), kName, buf, sizeof buf - 1);
    if (n < 0) return errno == ENOTSUP ? ArchiveState::Unsupported : ArchiveState::Set;
    buf[n] = '\0';
    // The record ends in the ctime that the clearing itself gave the file:
    // any change since (even one that set mtime back) is later.
    std::string_view rec(buf, static_cast<size_t>(n));
    size_t bar = rec.rfind('|');
    if (bar == std::string_view::npos || rec.substr(0, bar) != record_of(info))
        return ArchiveState::Set;
    long long bound = std::strtoll(buf + bar + 1, nullptr, 10);
    return ctime_ns(info) <= bound ? ArchiveState::Clear : ArchiveState::Set;
}

bool clear_archive_attribute(const std::string& path, const FileInfo& info) {
    // Changed since `info` was taken (while it was saved): left set, so the
    // next backup takes it again.
    FileInfo now;
    if (!stat_path(path, now)) return false;
    int64_t ctime = ctime_ns(now);
    if (ctime != ctime_ns(info)) return true;
    // Setting the attribute moves the file's ctime to the kernel's coarse
    // clock, which the record must hold before it is written. A file changed
    // within the current tick would get a finer time instead, so the clock
    // must have moved past its ctime first (a wait of at most a tick, only
    // for files that fresh). A tick between reading the clock and setting is
    // seen afterwards and the record set again; where that never settles the
    // record stays unmatched and the file is merely saved again next time.
    for (int attempt = 0; attempt < 20; ++attempt) {
        int64_t clock = coarse_now_ns();
        if (clock <= ctime) {
            timespec pause{0, 500000};
            ::nanosleep(&pause, nullptr);
            continue;
        }
        const int64_t bound = clock + coarse_tick_ns();
        std::string rec = record_of(info) + "|" + std::to_string(bound);
        if (::lsetxattr(path.c_str(), kName, rec.data(), rec.size(), 0) != 0) return false;
        if (!stat_path(path, now)) return false;
        ctime = ctime_ns(now);
        if (ctime <= bound) return true;
    }
    return true;
}

bool set_archive_attribute(const std::string& path) {
    return ::lremovexattr(path.c_str(), kName) == 0 || errno == ENODATA;
}

}  // namespace vardel::platform
