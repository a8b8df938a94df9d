#pragma once
// vardelremove's command line and its runs without windows: the clean-up
// phase ("-r") and the unattended interactive phase. Qt-free.
#include <cstdio>
#include <string>
#include <vector>

#include "vardelremove/uninstaller.h"

namespace vardel {

struct RemoveCommandLine {
    bool cleanup = false;     // "-r", in any case
    bool unattended = false;  // --unattended
    bool now = false;         // --now: the clean-up right after, no restart
    std::string root;         // --root DIR
    std::string user;         // --user NAME: whose menus the clean-up removes
    std::string error;

    static RemoveCommandLine parse(const std::vector<std::string>& args);
};

// Exit statuses: the design's -1 for a failed start, 1 for a failed
// uninstall.
inline constexpr int kStartFailed = 255;
inline constexpr int kUninstallFailed = 1;

inline constexpr const char* kNeedsAdministratorToRemove =
    "Vardel can only be removed by an administrator. Start the uninstaller as root "
    "(sudo vardelremove).";

// The options for this command line: places, the user, systemctl.
Uninstaller::Options remove_options(const RemoveCommandLine& command_line);

// The clean-up phase: nothing on screen, everything in the log. Returns 0,
// or kStartFailed when the start failed.
int run_cleanup(const RemoveCommandLine& command_line);

// The interactive phase without windows, its log on `out`, and with --now
// the clean-up right after it. 0 done, kUninstallFailed or kStartFailed.
int run_unattended_removal(const RemoveCommandLine& command_line, std::FILE* out, std::FILE* err);

}  // namespace vardel
