#pragma once
// What an installation of the suite is made of and where its pieces go:
// the default folders, the names the installer and the uninstaller share,
// and the system folders for the service unit, the desktop's menus,
// autostart entries and file types. System folders are taken below a root
// folder, so an installation can be made into a system image (or a test's
// scratch folder) as well as into the running system.
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/accounts.h"

namespace vardel::install {

inline constexpr const char* kDefaultInstallDir = "/opt/vardel/";
inline constexpr const char* kDefaultDataDir = "/var/lib/vardel/";
inline constexpr const char* kLogFolder = "logs/";  // below the data folder
inline constexpr int kServerPort = 2820;
inline constexpr const char* kLogFilePathValue = "LogFilePath";

// Members of this group may control the service as root may.
inline constexpr const char* kControlGroup = "vardel";
inline constexpr const char* kServiceUnit = "vardelclient.service";
inline constexpr const char* kServiceName = "Vardel Client Service";
inline constexpr const char* kServiceDescription =
    "Actually performs the backup operations at the scheduled times";

// An install folder holding this program is one the installer made.
inline constexpr const char* kMarkerProgram = "vardelnotify";
inline constexpr const char* kHelpFile = "help.html";
inline constexpr const char* kLicenceFile = "eula.html";
inline constexpr const char* kIconFile = "vardel.svg";
inline constexpr const char* kIconName = "vardel";

// The menu folder, as users see it and as the desktop files name it.
inline constexpr const char* kMenuName = "Vardel Pellin";
inline constexpr const char* kMenuId = "vardel-pellin";
inline constexpr const char* kMenuCategory = "X-Vardel-Pellin";
// Autostart entries: the tray's, and the one an earlier version made.
inline constexpr const char* kAutostartEntry = "vardelnotify.desktop";
inline constexpr const char* kOldAutostartEntry = "login monitor.desktop";
// The ".SAF" file type and the hidden entry that opens it in the restore tool.
inline constexpr const char* kSafMimeType = "application/x-vardel-saf";
inline constexpr const char* kMimePackage = "vardel-saf.xml";
inline constexpr const char* kAssociationEntry = "vardelrestore-saf.desktop";
// The Debian package, when the suite was installed that way.
inline constexpr const char* kPackageName = "vardel";

// The file type's icon in an icon theme ("application-x-vardel-saf.svg").
std::string type_icon_file();

// A folder path with exactly one "/" at its end.
std::string with_slash(std::string_view folder);

// The files of an installation, in copy order: the programs, then the help.
struct InstalledFile {
    const char* name;
    bool program;  // mode 0755 (else 0644)
};
std::span<const InstalledFile> installed_files();

// Folders the desktop reads, for all users or for one user.
struct DesktopFolders {
    std::string autostart;     // .../xdg/autostart, ~/.config/autostart
    std::string applications;  // .../applications
    std::string merged_menus;  // .../menus/applications-merged
    std::string directories;   // .../desktop-directories
    std::string icons;         // .../icons/hicolor
    std::string mime;          // .../mime (packages/ below it)

    // The folder of the menu's entries, inside applications.
    std::string menu_folder() const { return applications + "/" + kMenuId; }
};

// The running system (root "") or a system image below `root`.
class SystemPlaces {
  public:
    explicit SystemPlaces(std::string root = {});

    const std::string& root() const { return root_; }
    bool is_real() const { return root_.empty(); }
    // `absolute` ("/etc/...") below the root.
    std::string path(std::string_view absolute) const;

    // For all users. Data of an installation that no package manages goes
    // below /usr/local/share, which the desktop reads as well.
    DesktopFolders desktop() const;
    // Where the installer puts the unit, and every folder where a unit of
    // that name counts as installed (a package's included).
    std::string unit_folder() const;
    std::vector<std::string> unit_folders() const;
    // A temporary folder that outlives a restart.
    std::string temp_folder() const;
    // The list of files the Debian package installed, when it is installed.
    std::string package_file_list() const;

  private:
    std::string root_;
};

// A user's own folders: from XDG_CONFIG_HOME and XDG_DATA_HOME when `user`
// is this process's own account, else below the user's home.
DesktopFolders user_desktop_folders(const platform::Account& user);

// True when the Debian package installed the file `path` (a line of its
// file list below `places`).
bool package_owns(const SystemPlaces& places, const std::string& path);

}  // namespace vardel::install
