#pragma once
// Where the suite's files live. Every program asks here; nothing else decides.
//
//   VARDEL_ROOT set         -> $VARDEL_ROOT/registry.db,  $VARDEL_ROOT/run/
//   machine-wide install    -> /var/lib/vardel/registry.db, /run/vardel/
//   (the store exists, or the user is root)
//   otherwise               -> ${XDG_CONFIG_HOME:-~/.config}/vardel/registry.db,
//                              ${XDG_RUNTIME_DIR:-/tmp/vardel-$UID}/vardel/
//
// Thread-safe: reads the environment on each call.
#include <string>

namespace vardel::platform {

enum class StoreScope { Root, MachineWide, PerUser };

struct SuitePaths {
    StoreScope scope;
    std::string settings_store;  // the registry database file
    std::string runtime_dir;     // sockets, events, locks; ends without "/"
};

// Inputs that decide the answer, so tests need not touch the real machine.
struct PathInputs {
    std::string vardel_root;      // $VARDEL_ROOT, empty when unset
    std::string home;             // $HOME
    std::string xdg_config_home;  // empty when unset
    std::string xdg_runtime_dir;  // empty when unset
    unsigned uid = 0;
    bool machine_store_exists = false;
};

inline constexpr const char* kMachineStore = "/var/lib/vardel/registry.db";
inline constexpr const char* kMachineRuntime = "/run/vardel";

SuitePaths resolve_paths(const PathInputs& in);

// The answer for this process, from its environment.
PathInputs current_path_inputs();
SuitePaths suite_paths();

// runtime_dir() + "/" + sub, created (with parents, mode 0755, or 0700 for a
// per-user run folder) when missing. Throws std::system_error on failure.
std::string runtime_subdir(const std::string& sub);

// A folder `sub` of this account's own, private run folder: the runtime
// folder itself, except on a machine-wide install, where that is shared by
// every account and the per-user one (${XDG_RUNTIME_DIR:-/tmp/vardel-$UID}/
// vardel) is used instead. For what belongs to one user's session alone
// (the tray's one-copy lock). Throws std::system_error on failure.
std::string private_runtime_subdir(const std::string& sub);

}  // namespace vardel::platform
