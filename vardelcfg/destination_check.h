#pragma once
// What the editor says about a destination typed into "Directory Or Share":
// a share ("//server/share/...") may not be reachable by the service without
// a share login; a folder under a mounted share is a "mapped network drive"
// (the service may not see the user's mounts) and is offered in its
// "//server/share/..." form instead. Pure logic over a mount table; any
// thread.
#include <string>
#include <string_view>
#include <vector>

#include "platform/mount_table.h"

namespace vardel {

struct DestinationCheck {
    enum class Warning { None, Share, MappedDrive };
    Warning warning = Warning::None;
    // The value under the product key that turns this warning off.
    const char* switch_value = nullptr;
    // The destination to store and show once the warning was given: the
    // share form for a mapped drive, the text itself otherwise.
    std::string converted;

    const char* text() const;
};

inline constexpr const char* kShareWarning =
    "Warning! Network shares may not be available to the backup service unless you provide "
    "proper login credentials. Please see the documentation for more details.";
inline constexpr const char* kMappedDriveWarning =
    "Warning! Mapped network drives will not be available to the backup service. Network shares "
    "must be specified as UNC paths. Please see the documentation for more details.";
inline constexpr const char* kDontShowShare = "DontShow1";
inline constexpr const char* kDontShowMapped = "DontShow2";

// `typed` is the field's text, `stored` the set's destination before the
// edit. Warning::None when nothing is to be said (the text is shorter than 2
// characters, unchanged, or a local folder).
DestinationCheck check_destination(std::string_view typed, std::string_view stored,
                                   const std::vector<platform::MountEntry>& mounts);

// The share behind a path under a mounted SMB share ("//nas/data/x" for
// "/mnt/nas/x" when //nas/data is mounted on /mnt/nas); "" when the path lies
// under no such mount.
std::string share_form(std::string_view path, const std::vector<platform::MountEntry>& mounts);

}  // namespace vardel
