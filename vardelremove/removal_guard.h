#pragma once
// The clean-up's judgement of a folder it is asked to delete with all its
// contents: folders a system or its people need are never deleted, however
// the settings name them. Pure apart from reading the file system and the
// package lists; any thread.
#include <string>
#include <vector>

#include "common/install_layout.h"

namespace vardel {

enum class FolderVerdict {
    Deletable,
    TooShort,     // five characters or fewer
    NotFullPath,  // does not begin with "/"
    Protected,    // "/", a top-level or system folder, a home, a package's folder
    Link,         // the folder is a symbolic link
    Missing,      // nothing there to delete
};

struct RemovalGuard {
    // The places of the system (its root and package lists) and the home
    // folders of its accounts.
    install::SystemPlaces places;
    std::vector<std::string> homes;

    FolderVerdict judge(const std::string& folder) const;
    // The part of judge() that looks at the path alone (and the package lists).
    bool is_protected(const std::string& absolute) const;
};

// "/a/b/" -> "/a/b"; "." and ".." pieces resolved by their text.
std::string normal_path(const std::string& path);

}  // namespace vardel
