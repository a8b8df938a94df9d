#pragma once
// Mounting an SMB share with mount.cifs (cifs-utils), run as a child process.
// The password travels in a credentials file of mode 0600 in a private
// folder (mode 0700), never on a command line or in the child's
// environment; the file is removed when the child has ended, whatever its
// outcome, and files left by a process that died mid-mount are removed
// before the next one is written.
//
// Share logon holds one object per run and calls it from the backup thread;
// calls on one object must not overlap. Tests hand share logon a fake
// through the CifsMount interface, or point the real one at a stand-in
// program.
#include <chrono>
#include <string>

namespace vardel::platform {

struct CifsMountRequest {
    std::string source;       // "//server/share"
    std::string mount_point;  // created (with its parents) when missing
    std::string username;     // written to the credentials file
    std::string password;     // written to the credentials file only
    unsigned uid = 0;         // owner of the files as seen through the mount
    unsigned gid = 0;
};

struct CifsMountResult {
    bool mounted = false;
    int error_number = 0;    // when not mounted: the mount's error number
    std::string error_text;  // and its text (never holding the password)
};

class CifsMount {
  public:
    // `program`: the mount.cifs to run; a bare name is looked for in $PATH,
    // /usr/sbin and /sbin. `private_dir`: where credentials files are
    // written; empty means runtime_subdir("shares").
    explicit CifsMount(std::string program = "mount.cifs", std::string private_dir = {},
                       std::chrono::milliseconds timeout = std::chrono::minutes(2));
    virtual ~CifsMount() = default;

    virtual CifsMountResult mount(const CifsMountRequest& request);

    // The name of every credentials file ("<private_dir>/.credentials-XXXXXX").
    static constexpr const char* kCredentialsPrefix = ".credentials-";

  private:
    std::string program_;
    std::string private_dir_;
    std::chrono::milliseconds timeout_;
};

// Reads mount.cifs's output and exit status as an error number and text:
// "mount error(13): Permission denied" gives 13 and "Permission denied";
// its unnumbered messages get the errno they stand for; anything else gives
// the exit status and the first line of output.
CifsMountResult cifs_mount_failure(const std::string& output, int exit_status);

}  // namespace vardel::platform
