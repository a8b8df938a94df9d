#include "common/install_layout.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace vardel::install {

namespace {

constexpr InstalledFile kInstalledFiles[] = {
    {"vardelinfo", true},   {"vardelrestore", true}, {"vardelagenda", true}, {"vardelwatch", true},
    {"vardelnotify", true}, {"vardeld", true},       {"vardelcfg", true},    {kHelpFile, false},
    {"vardelgo", true},     {"vardelremove", true},  {"vardelreg", true},    {"vardelctl", true},
};

std::string env_folder(const char* name) {
    const char* v = std::getenv(name);
    if (!v || *v != '/') return {};
    std::string s = v;
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

std::string type_icon_file() {
    std::string name = kSafMimeType;
    for (char& c : name)
        if (c == '/') c = '-';
    return name + ".svg";
}

std::string with_slash(std::string_view folder) {
    std::string s(folder);
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    if (s.empty() || s.back() != '/') s.push_back('/');
    return s;
}

std::span<const InstalledFile> installed_files() {
    return kInstalledFiles;
}

SystemPlaces::SystemPlaces(std::string root) : root_(std::move(root)) {
    while (!root_.empty() && root_.back() == '/') root_.pop_back();
}

std::string SystemPlaces::path(std::string_view absolute) const {
    return root_ + std::string(absolute);
}

DesktopFolders SystemPlaces::desktop() const {
    return DesktopFolders{
        path("/etc/xdg/autostart"),
        path("/usr/local/share/applications"),
        path("/etc/xdg/menus/applications-merged"),
        path("/usr/local/share/desktop-directories"),
        path("/usr/local/share/icons/hicolor"),
        path("/usr/local/share/mime"),
    };
}

std::string SystemPlaces::unit_folder() const {
    return path("/etc/systemd/system");
}

std::vector<std::string> SystemPlaces::unit_folders() const {
    return {unit_folder(), path("/lib/systemd/system"), path("/usr/lib/systemd/system")};
}

std::string SystemPlaces::temp_folder() const {
    return path("/var/tmp");
}

std::string SystemPlaces::package_file_list() const {
    return path(std::string("/var/lib/dpkg/info/") + kPackageName + ".list");
}

DesktopFolders user_desktop_folders(const platform::Account& user) {
    std::string config, data;
    if (user.uid == ::geteuid()) {
        config = env_folder("XDG_CONFIG_HOME");
        data = env_folder("XDG_DATA_HOME");
    }
    if (config.empty()) config = user.home + "/.config";
    if (data.empty()) data = user.home + "/.local/share";
    return DesktopFolders{config + "/autostart",
                          data + "/applications",
                          config + "/menus/applications-merged",
                          data + "/desktop-directories",
                          data + "/icons/hicolor",
                          data + "/mime"};
}

bool package_owns(const SystemPlaces& places, const std::string& path) {
    std::ifstream list(places.package_file_list());
    std::string line;
    while (std::getline(list, line))
        if (line == path) return true;
    return false;
}

}  // namespace vardel::install
