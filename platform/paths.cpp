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

// A per-user run folder may sit in a folder every account can write to
// (/tmp): another account could have made it first, or put a link there,
// and so hold this user's socket, locks and events. Only a real folder of
// this user that nobody else may write to is used.
void check_private_folder(const std::string& dir) {
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot use " + dir);
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 022) != 0)
        throw std::system_error(EPERM, std::generic_category(),
                                dir + " is not a private folder of this user");
}

std::string per_user_runtime_dir(const PathInputs& in) {
    std::string runtime = in.xdg_runtime_dir.empty() ? "/tmp/vardel-" + std::to_string(in.uid)
                                                     : strip_trailing_slashes(in.xdg_runtime_dir);
    return runtime + "/vardel";
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
    return {StoreScope::PerUser, config + "/vardel/registry.db", per_user_runtime_dir(in)};
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

SuitePaths suite_paths() {
    return resolve_paths(current_path_inputs());
}

namespace {

std::string make_runtime_subdir(const SuitePaths& p, const std::string& sub) {
    std::string dir = sub.empty() ? p.runtime_dir : p.runtime_dir + "/" + sub;
    const bool per_user = p.scope == StoreScope::PerUser;
    std::string parent = std::filesystem::path(p.runtime_dir).parent_path().string();
    if (per_user) {
        if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST)
            throw std::system_error(errno, std::generic_category(), "cannot create " + parent);
        check_private_folder(parent);
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw std::system_error(ec, "cannot create " + dir);
    // Others must reach the service's socket in a machine-wide run folder;
    // a per-user one is private.
    ::chmod(p.runtime_dir.c_str(), per_user ? 0700 : 0755);
    if (per_user) check_private_folder(p.runtime_dir);
    return dir;
}

}  // namespace

std::string runtime_subdir(const std::string& sub) {
    return make_runtime_subdir(suite_paths(), sub);
}

std::string private_runtime_subdir(const std::string& sub) {
    SuitePaths p = suite_paths();
    if (p.scope == StoreScope::MachineWide)
        p = {StoreScope::PerUser, std::string(), per_user_runtime_dir(current_path_inputs())};
    return make_runtime_subdir(p, sub);
}

}  // namespace vardel::platform
