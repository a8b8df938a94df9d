#include "vardelcfg/destination_check.h"

#include <algorithm>

namespace vardel {

const char* DestinationCheck::text() const {
    switch (warning) {
        case Warning::Share:
            return kShareWarning;
        case Warning::MappedDrive:
            return kMappedDriveWarning;
        case Warning::None:
            break;
    }
    return "";
}

namespace {

bool is_share(std::string_view s) {
    return s.size() >= 2 && (s[0] == '/' || s[0] == '\\') && (s[1] == '/' || s[1] == '\\');
}

// `mount_point` is `path` or a folder above it.
bool under(std::string_view mount_point, std::string_view path) {
    if (mount_point == "/") return path.starts_with('/');
    if (!path.starts_with(mount_point)) return false;
    return path.size() == mount_point.size() || path[mount_point.size()] == '/';
}

}  // namespace

std::string share_form(std::string_view path, const std::vector<platform::MountEntry>& mounts) {
    // The mount that decides is the deepest one holding the path; of equal
    // ones the last, which is mounted over the others.
    const platform::MountEntry* best = nullptr;
    for (const platform::MountEntry& m : mounts) {
        if (!under(m.mount_point, path)) continue;
        if (!best || m.mount_point.size() >= best->mount_point.size()) best = &m;
    }
    if (!best || !is_share(best->source)) return "";
    std::string share = best->source;
    std::replace(share.begin(), share.end(), '\\', '/');
    while (share.size() > 2 && share.back() == '/') share.pop_back();
    // A folder of the share was mounted: some kernels name it in the source,
    // others in the root.
    if (best->root.size() > 1 && !share.ends_with(best->root)) share += best->root;
    std::string_view rest = path.substr(std::min(path.size(), best->mount_point.size()));
    if (best->mount_point == "/") rest = path.substr(1);
    if (!rest.empty() && rest.front() != '/') share += '/';
    share += rest;
    return share;
}

DestinationCheck check_destination(std::string_view typed, std::string_view stored,
                                   const std::vector<platform::MountEntry>& mounts) {
    DestinationCheck check;
    // Paths are case-sensitive here: only the very same text is unchanged.
    if (typed.size() < 2 || typed == stored) return check;
    if (typed.starts_with("//")) {
        check.warning = DestinationCheck::Warning::Share;
        check.switch_value = kDontShowShare;
        check.converted = std::string(typed);
        return check;
    }
    std::string share = share_form(typed, mounts);
    if (share.empty()) return check;
    check.warning = DestinationCheck::Warning::MappedDrive;
    check.switch_value = kDontShowMapped;
    check.converted = share;
    return check;
}

}  // namespace vardel
