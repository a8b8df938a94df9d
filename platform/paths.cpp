#include "platform/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace vardel::platform {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string strip_trailing_slashes(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

SuitePaths resolve_paths(const PathInputs& in) {
    if (!in.vardel_root.empty()) {
        std::string root = strip_trailing_slashes(in.vardel_root);
        return {StoreScope::Root, root + "/registry.db", root + "/run"};
    }
    if (in.machine_store_exists || in.uid == 0) {
        return {StoreScope::MachineWide, kMachineStore, kMachineRuntime};
    }
    std::string config = in.xdg_config_home.empty() ? in.home + "/.config"
                                                    : strip_trailing_slashes(in.xdg_config_home);
    std::string runtime = in.xdg_runtime_dir.empty()
                              ? "/tmp/vardel-" + std::to_string(in.uid)
                              : strip_trailing_slashes(in.xdg_runtime_dir);
    return {StoreScope::PerUser, config + "/vardel/registry.db", runtime + "/vardel"};
}

PathInputs current_path_inputs() {
    PathInputs in;
    in.vardel_root = env("VARDEL_ROOT");
    in.home = env("HOME");
    if (in.home.empty()) {
        if (const passwd* pw = getpwuid(getuid())) in.home = pw->pw_dir;
    }
    in.xdg_config_home = env("XDG_CONFIG_HOME");
    in.xdg_runtime_dir = env("XDG_RUNTIME_DIR");
    in.uid = getuid();
    struct stat st;
    in.machine_store_exists = ::stat(kMachineStore, &st) == 0;
    return in;
}

SuitePaths suite_paths() { return resolve_paths(current_path_inputs()); }

std::string runtime_subdir(const std::string& sub) {
    SuitePaths p = suite_paths();
    std::string dir = sub.empty() ? p.runtime_dir : p.runtime_dir + "/" + sub;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw std::system_error(ec, "cannot create " + dir);
    // Others must reach the service's socket in a machine-wide run folder;
    // a per-user one is private.
    ::chmod(p.runtime_dir.c_str(), p.scope == StoreScope::PerUser ? 0700 : 0755);
    return dir;
}

}  // namespace vardel::platform
