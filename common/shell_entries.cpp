#include "common/shell_entries.h"

#include "common/install_layout.h"

namespace vardel::install {

namespace {

constexpr MenuEntry kMenuEntries[] = {
    {"Backup Settings", "vardelcfg", "Vardel Backup Settings"},
    {"About Vardel", "vardelinfo", "About Vardel"},
    {"Schedule List", "vardelagenda", "Display Backup Schedule"},
    {"Status", "vardelwatch", "Display Backup System Status"},
    {"Start a Backup", "vardelgo", "Manually Start a Backup"},
    {"Extract Files", "vardelrestore", "Extract From a Backup"},
    {"Uninstall Vardel", "vardelremove", "Uninstall Vardel Software"},
    {"Tray", "vardelnotify", "Start Tray Program"},
    {"Vardel Help", kHelpFile, "Vardel Help File"},
};

bool plain(std::string_view s) {
    for (char c : s) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '/' || c == '.' || c == '_' || c == '-' || c == '+' || c == ',';
        if (!ok) return false;
    }
    return !s.empty();
}

// A desktop entry's string value: backslash, line breaks and tabs escaped.
std::string entry_value(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// A file path as a file:// address.
std::string file_url(std::string_view path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "file://";
    for (unsigned char c : path) {
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '/' || c == '.' || c == '_' || c == '-' || c == '~';
        if (keep) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace

ProgramLayout ProgramLayout::in_one_folder(std::string_view install_dir) {
    std::string dir = with_slash(install_dir);
    return ProgramLayout{dir, dir + "vardeld", dir + kHelpFile};
}

std::span<const MenuEntry> menu_entries() {
    return kMenuEntries;
}

std::string menu_entry_file(const MenuEntry& entry) {
    return std::string(entry.shortcut) + ".desktop";
}

std::string desktop_exec_argument(std::string_view argument) {
    std::string quoted;
    if (plain(argument)) {
        quoted = argument;
    } else {
        quoted = "\"";
        for (char c : argument) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
            quoted += c;
        }
        quoted += "\"";
    }
    std::string out;
    for (char c : quoted) {
        if (c == '%') out += '%';
        out += c;
    }
    // The line is a string value first: its backslashes are escaped again.
    return entry_value(out);
}

std::string unit_exec_argument(std::string_view argument) {
    std::string out;
    bool quote = !plain(argument);
    if (quote) out += '"';
    for (char c : argument) {
        if (c == '%')
            out += "%%";
        else if (c == '\\' || c == '"')
            out += std::string("\\") + c;
        else if (c == '$')
            out += "$$";
        else
            out += c;
    }
    if (quote) out += '"';
    return out;
}

std::string menu_entry_text(const MenuEntry& entry, const ProgramLayout& layout) {
    const bool help = std::string_view(entry.target) == kHelpFile;
    std::string text = "[Desktop Entry]\nType=Application\n";
    text += "Name=" + entry_value(entry.shortcut) + "\n";
    text += "Comment=" + entry_value(entry.description) + "\n";
    if (help) {
        text += "Exec=xdg-open " + desktop_exec_argument(layout.help_file) + "\n";
    } else {
        std::string program = layout.programs + entry.target;
        text += "TryExec=" + entry_value(program) + "\n";
        text += "Exec=" + desktop_exec_argument(program) + "\n";
        text += "Path=" + entry_value(layout.programs) + "\n";
    }
    text += std::string("Icon=") + kIconName + "\n";
    text += "Terminal=false\n";
    text += std::string("Categories=") + kMenuCategory + ";\n";
    return text;
}

std::string autostart_entry_text(const ProgramLayout& layout) {
    std::string program = layout.programs + kMarkerProgram;
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vardel Tray\n"
           "GenericName=Backup notices\n"
           "Comment=Start Tray Program\n"
           "TryExec=" +
           entry_value(program) +
           "\n"
           "Exec=" +
           desktop_exec_argument(program) +
           "\n"
           "Icon=" +
           kIconName +
           "\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "X-GNOME-Autostart-enabled=true\n"
           "X-GNOME-Autostart-Delay=2\n";
}

std::string association_entry_text(const ProgramLayout& layout) {
    std::string program = layout.programs + "vardelrestore";
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vardel Backup Extractor\n"
           "Comment=Extract From a Backup\n"
           "TryExec=" +
           entry_value(program) +
           "\n"
           "Exec=" +
           desktop_exec_argument(program) +
           " %f\n"
           "Icon=" +
           kIconName +
           "\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "MimeType=" +
           kSafMimeType + ";\n";
}

std::string merged_menu_file() {
    return std::string(kMenuId) + ".menu";
}

std::string menu_directory_file() {
    return std::string(kMenuId) + ".directory";
}

std::string merged_menu_text() {
    return std::string(
               "<!DOCTYPE Menu PUBLIC \"-//freedesktop//DTD Menu 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/menu-spec/1.0/menu.dtd\">\n"
               "<Menu>\n"
               "  <Name>Applications</Name>\n"
               "  <Menu>\n"
               "    <Name>") +
           kMenuName +
           "</Name>\n"
           "    <Directory>" +
           menu_directory_file() +
           "</Directory>\n"
           "    <Include>\n"
           "      <Category>" +
           kMenuCategory +
           "</Category>\n"
           "    </Include>\n"
           "  </Menu>\n"
           "</Menu>\n";
}

std::string menu_directory_text() {
    return std::string("[Desktop Entry]\nType=Directory\nName=") + kMenuName +
           "\nIcon=" + kIconName + "\n";
}

std::string mime_package_text() {
    return std::string(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
               "  <mime-type type=\"") +
           kSafMimeType +
           "\">\n"
           "    <comment>Vardel backup archive</comment>\n"
           "    <generic-icon name=\"package-x-generic\"/>\n"
           "    <glob pattern=\"*.SAF\" case-sensitive=\"true\"/>\n"
           "    <glob pattern=\"*.saf\" case-sensitive=\"true\"/>\n"
           "  </mime-type>\n"
           "</mime-info>\n";
}

std::string service_unit_text(const ProgramLayout& layout) {
    return std::string(
               "[Unit]\n"
               "Description=") +
           kServiceName + ": " + kServiceDescription +
           "\n"
           "Documentation=" +
           file_url(layout.help_file) +
           "\n"
           "After=local-fs.target network-online.target\n"
           "Wants=network-online.target\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "ExecStart=" +
           unit_exec_argument(layout.service_program) +
           "\n"
           "Restart=on-failure\n"
           "RestartSec=5\n"
           "# The run folder holds the control socket, the named events and the set locks.\n"
           "RuntimeDirectory=vardel\n"
           "RuntimeDirectoryMode=0755\n"
           "RuntimeDirectoryPreserve=yes\n"
           "StateDirectory=vardel\n"
           "# A running backup gets time to notice the stop and end cleanly.\n"
           "TimeoutStopSec=30\n"
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}

}  // namespace vardel::install
