#pragma once
// Reaching a backup destination before a run touches it. A local path is
// used as it is; a share ("//server/share/dir") is looked up in the mount
// table and, when not mounted and a share login is set, mounted.
// Used by the backup thread; one object per run.
#include <string>

#include "common/general_settings.h"

namespace vardel {

struct ShareLogonResult {
    bool reachable = true;
    int error_number = 0;     // when not reachable: the mount's error
    std::string error_text;   // and its text
    std::string folder;       // the local folder to use for the destination
};

class ShareLogon {
public:
    virtual ~ShareLogon() = default;
    virtual ShareLogonResult log_on_if_necessary(const std::string& destination,
                                                 const GeneralSettings& settings);
};

// True for "//server/share..." and "\\\\server\\share...".
bool is_unc_path(const std::string& path);

}  // namespace vardel
