#pragma once
// Reaching a backup destination before a run touches it. A local path is
// used as it is. A share, "//server/share/dir" (or "\\server\share\dir"),
// is reachable when it is mounted: the run then writes below the mount
// point. When it is not mounted and a share login is set, it is mounted with
// mount.cifs under run/shares/<server>/<share> as that user, and the mount
// stays for later runs. The share login's account is what the server sees
// (the mount's username=); locally the files belong to the service's own
// account (uid=, gid=).
//
// One object per run, used by the backup thread only. The mount table and
// the mount runner are borrowed and must outlive the object; the default
// constructor uses the real ones.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/general_settings.h"
#include "platform/cifs_mount.h"
#include "platform/mount_table.h"

namespace vardel {

struct ShareLogonResult {
    bool reachable = true;
    int error_number = 0;    // when not reachable: the mount's error
    std::string error_text;  // and its text
    std::string folder;      // the local folder to use for the destination
};

// A share destination taken apart. Separators are "/" or "\"; components
// are kept as written.
struct SharePath {
    std::string server;
    std::string share;
    std::vector<std::string> rest;  // the folders below the share, "." and empty ones dropped
};

// True for "//server/share..." and "\\\\server\\share...".
bool is_unc_path(const std::string& path);

// The destination cut after the share name, with "/" separators
// ("//server/share"); a path with no separator after the server is kept whole.
std::string share_root(std::string_view path);

// False when `path` is not a UNC path, the server or share is missing, "."
// or "..", or a folder below the share is "..": such a path could lead
// outside the mount.
bool parse_share_path(std::string_view path, SharePath& out);

class ShareLogon {
  public:
    ShareLogon();
    ShareLogon(const platform::MountTable& table, platform::CifsMount& mounter);
    virtual ~ShareLogon();
    ShareLogon(const ShareLogon&) = delete;
    ShareLogon& operator=(const ShareLogon&) = delete;

    virtual ShareLogonResult log_on_if_necessary(const std::string& destination,
                                                 const GeneralSettings& settings);

  private:
    // Where the share is mounted and the destination's folder below it;
    // empty when it is not mounted.
    struct Found {
        std::string mount_point;
        std::string folder;
    };
    Found find_mount(const SharePath& path) const;

    std::unique_ptr<platform::MountTable> own_table_;
    std::unique_ptr<platform::CifsMount> own_mounter_;
    const platform::MountTable* table_;
    platform::CifsMount* mounter_;
    bool logged_on_ = false;  // the share user's identity is set for this run
};

}  // namespace vardel
