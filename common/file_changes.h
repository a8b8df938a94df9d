#pragma once
// A batch of file changes for the installer and the uninstaller: folders
// made, files written whole (a temporary file renamed over the name, so a
// link there is replaced, never written through), files and folder trees
// removed without following links. A batch for a user's own folders runs
// with that user's rights, so nothing the user planted there can send a
// root write elsewhere. Any thread.
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/accounts.h"

namespace vardel::install {

struct FileChange {
    enum class Kind {
        Folder,      // made with its parents when missing
        Write,       // `text` written as the file `path` (folders made)
        Copy,        // the file `source` copied as `path` (folders made)
        Remove,      // a file or link removed; missing is fine
        RemoveTree,  // a folder and all below it removed; missing is fine
        RemoveEmpty  // a folder removed when it is empty
    };
    Kind kind;
    std::string path;
    std::string text;  // Write: the contents; Copy: the source
    mode_t mode = 0644;
};

// Applies the changes in order, as `user` when given (see platform::run_as).
// The text of the first failure ("Can't write /x: Permission denied"), or
// "" when all were made; later changes are not made after a failure.
std::string apply_changes(const std::vector<FileChange>& changes,
                          const platform::Account* user = nullptr);

// Runs a desktop tool that rebuilds a cache of `folder` after a change
// ("update-mime-database", "update-desktop-database"), when the tool and
// the folder are there. A cache not rebuilt is no failure of the change.
void refresh_cache(const char* tool, const std::string& folder);

// Copies `source` as `target` through a temporary file beside it, with
// `mode`. "" or the failure's text.
std::string copy_file(const std::string& source, const std::string& target, mode_t mode);

}  // namespace vardel::install
