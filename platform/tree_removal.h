#pragma once
// Removing a whole folder as root without ever leaving it: every name is
// reached from its parent's descriptor, a symbolic link met anywhere is
// removed as a link and never followed, and a folder on another file system
// (a disk mounted inside) is left alone with everything on it. So a link or
// a mount inside a folder being removed cannot make the removal reach files
// outside it. Any thread.
#include <cstdint>
#include <string>
#include <vector>

namespace vardel::platform {

struct TreeRemoval {
    uint64_t removed = 0;               // files, links and folders removed
    std::vector<std::string> kept;      // mount points left alone, by path
    std::vector<std::string> failures;  // "path: reason"
};

// Removes the folder `path` and everything below it. The folder itself must
// be a real folder: a link at `path` is refused (ELOOP) and nothing is
// removed. True when the folder is gone; otherwise `report` says what was
// kept or could not be removed, and *error holds the first errno.
bool remove_tree(const std::string& path, TreeRemoval& report, int* error = nullptr);

}  // namespace vardel::platform
