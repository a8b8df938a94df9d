#pragma once
// The texts an installation puts into the desktop and the system: the menu
// entries (one per row of the menu table), the tray's autostart entry, the
// hidden entry that opens ".SAF" files in the restore tool, the sub-menu
// and its folder entry, the file type, and the service's systemd unit.
// The setup program writes them for the folder the user chose; the build
// writes them for the Debian package's layout. Pure functions.
#include <span>
#include <string>
#include <string_view>

namespace vardel::install {

// Where the texts point to.
struct ProgramLayout {
    std::string programs;         // folder of the programs, ending in "/"
    std::string service_program;  // the service's program file
    std::string help_file;        // the HTML help

    // Everything in the install folder, as the setup program installs it.
    static ProgramLayout in_one_folder(std::string_view install_dir);
};

// A row of the menu table: the entry's name, its program (or the help
// file), and its comment.
struct MenuEntry {
    const char* shortcut;
    const char* target;
    const char* description;
};
std::span<const MenuEntry> menu_entries();
// "Backup Settings.desktop"
std::string menu_entry_file(const MenuEntry& entry);

std::string menu_entry_text(const MenuEntry& entry, const ProgramLayout& layout);
std::string autostart_entry_text(const ProgramLayout& layout);
std::string association_entry_text(const ProgramLayout& layout);
// The sub-menu, for applications-merged/ and desktop-directories/.
std::string merged_menu_text();
std::string menu_directory_text();
std::string mime_package_text();
std::string service_unit_text(const ProgramLayout& layout);

// File names of the merged menu and its folder entry.
std::string merged_menu_file();
std::string menu_directory_file();

// One argument of a desktop entry's Exec line, quoted and escaped as the
// desktop entry format asks (a "%" doubled, a blank or a quote quoted).
std::string desktop_exec_argument(std::string_view argument);
// The same for a systemd unit's ExecStart line.
std::string unit_exec_argument(std::string_view argument);

}  // namespace vardel::install
