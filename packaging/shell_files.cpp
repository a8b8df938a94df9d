// Writes the files an installation puts into the desktop and the system,
// for the layout of `cmake --install` and the Debian package:
//   shell_files OUT PROGRAMS SERVICE_PROGRAM HELP_FILE
// gives OUT/vardelclient.service, OUT/vardelnotify.desktop, OUT/applications/
// (the menu's entries and the file type's), OUT/vardel-pellin.menu,
// OUT/vardel-pellin.directory and OUT/vardel-saf.xml. The setup program
// writes the same texts for the folder its user chose.
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/install_layout.h"
#include "common/shell_entries.h"
#include "platform/atomic_file.h"

namespace {

bool write(const std::string& path, const std::string& text) {
    std::string error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (vardel::platform::write_file_atomically(path, text, &error)) return true;
    std::fprintf(stderr, "shell_files: %s\n", error.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vardel::install;
    if (argc != 5) {
        std::fprintf(stderr, "usage: shell_files OUT PROGRAMS SERVICE_PROGRAM HELP_FILE\n");
        return 2;
    }
    const std::string out = argv[1];
    const ProgramLayout layout{with_slash(argv[2]), argv[3], argv[4]};
    bool ok = write(out + "/" + kServiceUnit, service_unit_text(layout)) &&
              write(out + "/" + kAutostartEntry, autostart_entry_text(layout)) &&
              write(out + "/" + merged_menu_file(), merged_menu_text()) &&
              write(out + "/" + menu_directory_file(), menu_directory_text()) &&
              write(out + "/" + kMimePackage, mime_package_text()) &&
              write(out + "/applications/" + kMenuId + "/" + kAssociationEntry,
                    association_entry_text(layout));
    for (const MenuEntry& e : menu_entries()) {
        // A package is removed through the package manager, not a menu entry.
        if (std::string(e.target) == "vardelremove") continue;
        ok = ok && write(out + "/applications/" + kMenuId + "/" + menu_entry_file(e),
                         menu_entry_text(e, layout));
    }
    return ok ? 0 : 1;
}
