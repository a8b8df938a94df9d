#include "vardelremove/uninstaller.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "common/file_changes.h"
#include "common/my_error.h"
#include "common/registry.h"
#include "common/shell_entries.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/tree_removal.h"
#include "vardelremove/removal_guard.h"

namespace vardel {

namespace {

using install::FileChange;
using Kind = install::FileChange::Kind;

// A folder only this process's account may use: made when missing, and
// refused when it is a link, another account's, or open to others.
bool private_folder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

}  // namespace

Uninstaller::Uninstaller(Options options, Phase phase, ViewSink view)
    : o_(std::move(options)), phase_(phase), view_(std::move(view)) {
    if (o_.program.empty()) o_.program = platform::own_program_path();
}

Uninstaller::~Uninstaller() {
    if (log_) std::fclose(log_);
}

void Uninstaller::write(const std::string& text, bool view) {
    if (log_) {
        std::fputs(text.c_str(), log_);
        std::fflush(log_);
    }
    if (view && view_) view_(text);
}

void Uninstaller::log_message(const std::string& text) {
    write(text + "\n", false);
}

bool Uninstaller::user_is_other() const {
    return ::geteuid() == 0 && o_.user.uid != ::geteuid();
}

std::optional<std::string> Uninstaller::start() {
    std::string temp = o_.places.temp_folder();
    if (!o_.places.is_real()) {
        std::error_code ec;
        std::filesystem::create_directories(temp, ec);
    }
    work_folder_ = temp + "/" + kWorkFolder;
    if (!private_folder(work_folder_))
        return strprintf("Couldn't create log file %s", log_path().c_str());
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC |
                      (phase_ == Phase::Cleanup ? O_APPEND : O_TRUNC);
    int fd = ::open(log_path().c_str(), flags, 0600);
    if (fd < 0 || !(log_ = ::fdopen(fd, phase_ == Phase::Cleanup ? "a" : "w"))) {
        if (fd >= 0) ::close(fd);
        return strprintf("Couldn't create log file %s", log_path().c_str());
    }
    write("Do Inits\n", false);

    auto fail = [this](const char* text) {
        log_message(text);
        return std::optional<std::string>(text);
    };
    std::optional<registry::Key> key;
    struct stat st;
    if (::stat(platform::suite_paths().settings_store.c_str(), &st) == 0)
        key = registry::open_key(registry::Root::LocalMachine, kProductKey);
    if (!key) return fail("Can't open registry");
    try {
        if (registry::read_text(*key, kCurrentVersionValue, "").empty())
            return fail("Vardel installation not found. No version string");
        install_dir_ = registry::read_text(*key, kInstallDirValue, "");
        if (install_dir_.empty()) return fail("Can't read install path");
        data_dir_ = registry::read_text(*key, kDataPathValue, "");
        if (data_dir_.empty()) return fail("Can't read data path");
    } catch (const MyError& e) {
        return fail(e.message());
    }
    if (install::package_owns(o_.places,
                              install::with_slash(install_dir_) + install::kMarkerProgram))
        return fail(strprintf("Vardel is installed as the Debian package \"%s\" on this system. "
                              "Remove it with apt.",
                              install::kPackageName)
                        .c_str());
    return std::nullopt;
}

bool Uninstaller::uninstall() {
    write("Begin Uninstall...\n");
    shutdown_service();
    remove_auto_starts();
    return register_cleanup();
}

void Uninstaller::shutdown_service() {
    write("Shutdown service... ");
    const std::string unit = install::kServiceUnit;
    bool deletable = true;
    if (o_.places.is_real()) {
        platform::ServiceQuery q = o_.services.query(unit);
        switch (q.failure) {
            case platform::ServiceFailure::NoManager:
                write("\nError! can't contact SC Manager\n");
                deletable = false;
                break;
            case platform::ServiceFailure::NoService:
                write("\nError! Can't connect to service\n");
                deletable = false;
                break;
            case platform::ServiceFailure::NoStatus:
                write("\nError! Can't get service status\n");
                deletable = false;
                break;
            default:
                if (q.state != platform::ServiceState::Stopped &&
                    o_.services.stop(unit) != platform::ServiceFailure::None)
                    write("\nError! Can't stop service\n");
        }
    }
    if (deletable) {
        std::string unit_file = o_.places.unit_folder() + "/" + unit;
        bool deleted =
            o_.services.disable(unit, o_.places.root()) == platform::ServiceFailure::None;
        deleted = install::apply_changes({{Kind::Remove, unit_file, {}}}).empty() && deleted;
        if (o_.places.is_real()) o_.services.reload_units();
        if (!deleted) write("\nError! Can't delete service\n");
    }
    write("\tDone\n");
}

void Uninstaller::remove_auto_starts() {
    write("Delete auto-start entries... ");
    install::DesktopFolders own = install::user_desktop_folders(o_.user);
    install::apply_changes({{Kind::Remove, own.autostart + "/" + install::kAutostartEntry, {}}},
                           &o_.user);
    install::apply_changes(
        {{Kind::Remove, o_.places.desktop().autostart + "/" + install::kAutostartEntry, {}}});
    write("\tDone\n");
}

std::string Uninstaller::cleanup_unit_text() const {
    std::string exec = install::unit_exec_argument(cleanup_copy()) + " -r";
    if (user_is_other()) exec += " --user " + install::unit_exec_argument(o_.user.name);
    if (!o_.places.is_real()) exec += " --root " + install::unit_exec_argument(o_.places.root());
    std::string text =
        "[Unit]\n"
        "Description=Vardel clean-up after uninstall\n"
        "ConditionPathExists=" +
        cleanup_copy() +
        "\n"
        "After=local-fs.target\n"
        "\n"
        "[Service]\n"
        "Type=oneshot\n"
        "WorkingDirectory=" +
        work_folder_ + "\n";
    // The clean-up must find the same settings store as this phase.
    if (const char* root = std::getenv("VARDEL_ROOT"); root && *root) {
        std::string assignment = "VARDEL_ROOT=";
        for (const char* c = root; *c; ++c) {
            if (*c == '%') assignment += '%';
            if (*c == '"' || *c == '\\') assignment += '\\';
            assignment += *c;
        }
        text += "Environment=\"" + assignment + "\"\n";
    }
    text += "ExecStart=" + exec +
            "\n"
            "\n"
            "[Install]\n"
            "WantedBy=multi-user.target\n";
    return text;
}

bool Uninstaller::register_cleanup() {
    write("Set up reboot cleanup process... ");
    std::string error = install::copy_file(o_.program, cleanup_copy(), 0700);
    if (!error.empty()) {
        write(strprintf("\nCopy of exe failed -- %s", error.c_str()));
        return false;
    }
    std::string unit_file = o_.places.unit_folder() + "/" + kCleanupUnit;
    bool ok = install::apply_changes({{Kind::Write, unit_file, cleanup_unit_text()}}).empty();
    if (ok && o_.places.is_real()) o_.services.reload_units();
    ok = ok && o_.services.enable(kCleanupUnit, o_.places.root()) == platform::ServiceFailure::None;
    if (!ok) {
        write("\nError! Can't open RunOnce registry location\n");
        return false;
    }
    write("\tDone\n");
    write("\nUninstall Complete!\n");
    return true;
}

void Uninstaller::cleanup() {
    write("Start cleanup\n");
    write("Get Programs path\n");
    delete_folder("Program", install_dir_, true);
    write("Delete data path\n");
    delete_folder("Data", data_dir_, false);
    write("Delete menus\n");
    delete_menus();
    write("Delete registry entries\n");
    delete_settings();
    forget_cleanup_unit();
    write("Done\n");
    if (log_) {
        std::fclose(log_);
        log_ = nullptr;
    }
}

void Uninstaller::delete_folder(const char* which, const std::string& folder, bool needs_marker) {
    RemovalGuard guard{o_.places, platform::home_folders()};
    switch (guard.judge(folder)) {
        case FolderVerdict::TooShort:
            write(strprintf("%s path is suspiciously short (%s). Won't attempt to delete.\n", which,
                            folder.c_str()));
            return;
        case FolderVerdict::NotFullPath:
            write(strprintf("%s path %s is not a full path. Won't attempt to delete.\n", which,
                            folder.c_str()));
            return;
        case FolderVerdict::Protected:
            write(strprintf("%s path %s is a system or home folder. Won't attempt to delete.\n",
                            which, folder.c_str()));
            return;
        case FolderVerdict::Link:
            write(strprintf("%s path %s is a symbolic link. Won't attempt to delete.\n", which,
                            folder.c_str()));
            return;
        case FolderVerdict::Missing:
            write(strprintf("%s path %s is not there.\n", which, folder.c_str()));
            return;
        case FolderVerdict::Deletable:
            break;
    }
    std::string dir = install::with_slash(folder);
    if (needs_marker) {
        struct stat st;
        std::string marker = dir + install::kMarkerProgram;
        if (::lstat(marker.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            write(strprintf(
                "Couldn't find '%s' in specified programs dir. Won't attempt to delete.\n",
                install::kMarkerProgram));
            return;
        }
    }
    platform::TreeRemoval report;
    platform::remove_tree(dir, report);
    for (const std::string& kept : report.kept)
        write(strprintf("\tLeft %s alone: another file system is mounted there\n", kept.c_str()));
    for (const std::string& failure : report.failures)
        write(strprintf("\tCouldn't delete %s\n", failure.c_str()));
}

void Uninstaller::delete_menus() {
    auto menus = [](const install::DesktopFolders& f) {
        return std::vector<FileChange>{
            {Kind::RemoveTree, f.menu_folder(), {}},
            {Kind::Remove, f.merged_menus + "/" + install::merged_menu_file(), {}},
            {Kind::Remove, f.directories + "/" + install::menu_directory_file(), {}},
            {Kind::Remove, f.icons + "/scalable/apps/" + install::kIconFile, {}},
        };
    };
    install::DesktopFolders common = o_.places.desktop();
    std::vector<FileChange> changes = menus(common);
    // The file type goes with the menus: nothing is left to open ".SAF" files with.
    changes.push_back({Kind::Remove, common.mime + "/packages/" + install::kMimePackage, {}});
    changes.push_back(
        {Kind::Remove, common.icons + "/scalable/mimetypes/" + install::type_icon_file(), {}});
    install::apply_changes(changes);
    install::apply_changes(menus(install::user_desktop_folders(o_.user)), &o_.user);
    install::refresh_cache("update-mime-database", common.mime);
    install::refresh_cache("update-desktop-database", common.applications);
}

void Uninstaller::delete_settings() {
    // The store may have gone with the data folder: then so have the settings.
    struct stat st;
    if (::stat(platform::suite_paths().settings_store.c_str(), &st) != 0) return;
    try {
        if (std::optional<registry::Key> maker =
                registry::open_key(registry::Root::LocalMachine, "software\\Brindlecore"))
            maker->delete_subkey("Vardel");
    } catch (const std::exception& e) {
        write(strprintf("\tCouldn't delete the settings: %s\n", e.what()));
    }
}

void Uninstaller::forget_cleanup_unit() {
    // Windows forgets a run-once entry by itself; a unit has to be taken away.
    o_.services.disable(kCleanupUnit, o_.places.root());
    install::apply_changes(
        {{Kind::Remove, o_.places.unit_folder() + "/" + kCleanupUnit, {}},
         {Kind::RemoveEmpty, o_.places.unit_folder() + "/multi-user.target.wants", {}}});
}

}  // namespace vardel
