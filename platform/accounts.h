#pragma once
// Accounts and groups, from the system's user and group databases: who may
// change the service's state (root, the service's own user and members of
// the group "vardel"), and who may read its logs.
// Thread-safe (the reentrant look-ups).
#include <sys/types.h>

#include <optional>
#include <string>

namespace vardel::platform {

// The group the installer makes for those who may control the service.
inline constexpr const char* kControlGroup = "vardel";

// The id of the group `name`, or none when there is no such group.
std::optional<gid_t> group_id(const std::string& name);
// True when the account `uid`, whose process runs with primary group `gid`,
// belongs to the group `group`: as its primary group, or as a member listed
// in the group database.
bool in_group(uid_t uid, gid_t gid, gid_t group);

}  // namespace vardel::platform
