#include "vardelcfg/desktop_shortcut.h"

#include <cstdlib>
#include <filesystem>

#include "common/text_helpers.h"
#include "platform/atomic_file.h"
#include "platform/process.h"

namespace vardel {

namespace {

constexpr const char* kCantCreate = "Can't Create Shortcut";

// A value of type string or localestring: backslashes doubled.
std::string entry_value(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// One argument of Exec: in double quotes with '"', '`', '$' and '\' escaped,
// '%' doubled (no field code), then escaped as any string value is.
std::string exec_argument(std::string_view arg) {
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
        if (c == '%') quoted += '%';
    }
    quoted += '"';
    return entry_value(quoted);
}

bool runnable(const char* program) {
    std::error_code ec;
    auto st = std::filesystem::status(program, ec);
    return !ec && std::filesystem::is_regular_file(st) &&
           (st.permissions() & std::filesystem::perms::others_exec) != std::filesystem::perms::none;
}

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

}  // namespace

std::string DesktopShortcut::file_name(std::string_view set_name) {
    return "Backup '" + std::string(set_name) + "' Now.desktop";
}

std::string DesktopShortcut::contents(std::string_view set_name, std::string_view program) {
    std::string name = std::string(set_name);
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Version=1.0\n"
           "Name=" +
           entry_value("Backup '" + name + "' Now") +
           "\n"
           "Comment=" +
           entry_value("Do backup set '" + name + "'") +
           "\n"
           "Exec=" +
           exec_argument(program) + " " + exec_argument(set_name) +
           "\n"
           "Icon=" +
           kIconName +
           "\n"
           "Terminal=false\n";
}

std::string DesktopShortcut::desktop_folder() {
    std::string home = environment("HOME");
    const char* tool = "/usr/bin/xdg-user-dir";
    if (runnable(tool)) {
        std::vector<std::string> env = {"HOME=" + home};
        if (!environment("XDG_CONFIG_HOME").empty())
            env.push_back("XDG_CONFIG_HOME=" + environment("XDG_CONFIG_HOME"));
        platform::ProgramResult r =
            platform::run_program({tool, "DESKTOP"}, env, std::chrono::seconds(10));
        std::string dir = r.output;
        while (!dir.empty() && (dir.back() == '\n' || dir.back() == '\r')) dir.pop_back();
        if (r.exit_status == 0 && dir.starts_with('/') && dir.find('\n') == std::string::npos)
            return dir;
    }
    return home + "/Desktop";
}

std::optional<EditorMessage> DesktopShortcut::create(std::string_view set_name,
                                                     std::string_view program,
                                                     const std::string& folder) {
    std::string file = file_name(set_name);
    bool control = false;
    for (unsigned char c : set_name) control = control || c < 32 || c == 127;
    if (set_name.find('/') != std::string_view::npos || control || file.size() > 255)
        return EditorMessage{strprintf("The name of Backup Set '%.*s' cannot be a file name",
                                       static_cast<int>(set_name.size()), set_name.data()),
                             kCantCreate, EditorMessage::Icon::Stop};

    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::string path = folder + (folder.ends_with('/') ? "" : "/") + file;
    std::string error;
    if (!platform::write_file_atomically(path, contents(set_name, program), &error, nullptr, 0755))
        return EditorMessage{error, kCantCreate, EditorMessage::Icon::Stop};
    // Desktops start only launchers that are executable; a replaced one
    // keeps the bits it had.
    namespace fs = std::filesystem;
    fs::permissions(path,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    ec);
    // GNOME's desktop also wants its own mark; where gio cannot set it the
    // desktop asks the user once instead.
    if (runnable("/usr/bin/gio")) {
        std::vector<std::string> env;
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"})
            if (!environment(name).empty())
                env.push_back(std::string(name) + "=" + environment(name));
        platform::run_program({"/usr/bin/gio", "set", path, "metadata::trusted", "true"}, env,
                              std::chrono::seconds(5));
    }
    return std::nullopt;
}

EditorMessage DesktopShortcut::no_set_message() {
    return {"Must have a BackupSet selected", kCantCreate, EditorMessage::Icon::Stop};
}

std::string DesktopShortcut::question(std::string_view set_name) {
    return strprintf("Create a shortcut for %.*s on the desktop?",
                     static_cast<int>(set_name.size()), set_name.data());
}

}  // namespace vardel
