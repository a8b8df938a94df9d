#include "platform/accounts.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace vardel::platform {

namespace {

size_t buffer_size(int which) {
    long n = ::sysconf(which);
    return n > 0 ? static_cast<size_t>(n) : 16384;
}

}  // namespace

std::optional<gid_t> group_id(const std::string& name) {
    std::vector<char> buf(buffer_size(_SC_GETGR_R_SIZE_MAX));
    group g{};
    group* found = nullptr;
    while (::getgrnam_r(name.c_str(), &g, buf.data(), buf.size(), &found) == ERANGE)
        buf.resize(buf.size() * 2);
    if (!found) return std::nullopt;
    return found->gr_gid;
}

bool in_group(uid_t uid, gid_t gid, gid_t group) {
    if (gid == group) return true;
    std::vector<char> buf(buffer_size(_SC_GETPW_R_SIZE_MAX));
    passwd pw{};
    passwd* found = nullptr;
    while (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == ERANGE)
        buf.resize(buf.size() * 2);
    if (!found) return false;
    int n = 64;
    std::vector<gid_t> groups(static_cast<size_t>(n));
    while (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &n) < 0)
        groups.resize(static_cast<size_t>(n));
    groups.resize(static_cast<size_t>(n));
    for (gid_t g : groups)
        if (g == group) return true;
    return false;
}

}  // namespace vardel::platform
