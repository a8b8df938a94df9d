#pragma once
// The setup program around the wizard and the unattended install: its
// command line, the start checks, the scratch folder, and the unattended
// install from start to end. Qt-free; the main thread.
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/install_layout.h"

namespace vardel {

struct SetupCommandLine {
    bool unattended = false;
    std::string prefix;  // the install folder, when given
    std::string data;    // the data folder, when given
    std::string root;    // a system image to install into, when given
    bool per_user = false;
    std::string error;  // a bad command line: what is wrong

    static SetupCommandLine parse(const std::vector<std::string>& args);
};

// The start checks, in order: the system (Linux run by systemd), then the
// rights to install into it, then an installation by the Debian package.
// The message that ends the program, or none. An install into a system
// image (a root given) needs neither a running systemd nor root.
std::optional<std::string> setup_start_check(const install::SystemPlaces& places);
inline constexpr const char* kNeedsAdministrator =
    "Vardel can only be installed by an administrator. Start the setup program as root "
    "(sudo vardelsetup).";

// A new private scratch folder under $TMPDIR (or /tmp). Throws MyError.
std::string make_scratch_folder();

// The whole install without windows: the summary, the unpacking, the steps
// (their log on `out`), what was left to the system. The exit status: 0
// installed, 1 not.
int run_unattended(const SetupCommandLine& command_line, std::span<const unsigned char> payload,
                   std::FILE* out, std::FILE* err);

}  // namespace vardel
