#include "common/installed_program.h"

#include <filesystem>

#include "common/my_error.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"
#include "platform/file_info.h"
#include "platform/process.h"

namespace vardel {

namespace {

bool is_program(const std::string& path) {
    platform::FileInfo fi;
    return platform::stat_path_following(path, fi) && fi.is_regular() && (fi.mode & 0111) != 0;
}

std::string joined(std::string folder, std::string_view name) {
    if (folder.empty()) return "./" + std::string(name);
    if (folder.back() != '/') folder += '/';
    return std::filesystem::path(folder + std::string(name)).lexically_normal().string();
}

}  // namespace

std::string installed_program(std::string_view name, const std::string& install_dir,
                              const std::string& own_folder) {
    const std::string n(name);
    std::string candidates[] = {
        install_dir.empty() ? std::string() : joined(install_dir, n),
        install_dir.empty() ? std::string() : joined(install_dir, n + "/" + n),
        own_folder.empty() ? std::string() : joined(own_folder, n),
        own_folder.empty() ? std::string() : joined(own_folder, "../" + n + "/" + n),
    };
    for (const std::string& c : candidates)
        if (!c.empty() && is_program(c)) return c;
    return joined(install_dir, n);
}

std::string installed_program(std::string_view name) {
    std::string install_dir;
    try {
        if (auto key = registry::open_key(registry::Root::LocalMachine, kProductKey))
            install_dir = registry::read_text(*key, kInstallDirValue, "");
    } catch (const MyError&) {
        // No readable "InstallDir": beside this program.
    }
    std::string self = platform::own_program_path();
    return installed_program(name, install_dir, std::string(folder_part(self)));
}

}  // namespace vardel
