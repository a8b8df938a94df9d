#pragma once
// The mounts this process sees, from /proc/self/mountinfo. Share logon looks
// up where a network share is mounted here; tests hand it a table of their
// own through the MountTable interface.
#include <string>
#include <string_view>
#include <vector>

namespace vardel::platform {

struct MountEntry {
    std::string root;         // the part of the mounted file system seen there
    std::string mount_point;  // absolute, escapes undone
    std::string fs_type;      // "cifs", "tmpfs", ...
    std::string source;       // "//server/share" for an SMB mount
};

// Undoes the kernel's octal escapes ("\040" for a blank, "\134" for a
// backslash, ...). A backslash not followed by three octal digits is kept.
std::string unescape_mount_field(std::string_view field);

// Parses the text of a mountinfo file, one entry per well-formed line in
// order (later entries are mounted over earlier ones). Lines without the
// "-" separator or with too few fields are skipped.
std::vector<MountEntry> parse_mountinfo(std::string_view text);

// The real table. Stateless; any thread.
class MountTable {
  public:
    virtual ~MountTable() = default;
    // The mounts as they are now; empty when the table cannot be read.
    virtual std::vector<MountEntry> mounts() const;
};

}  // namespace vardel::platform
