#include "vardelsetup/installer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "common/file_changes.h"
#include "common/my_error.h"
#include "common/registry.h"
#include "common/shell_entries.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"
#include "platform/atomic_file.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/tree_removal.h"
#include "vardelsetup/payload.h"

namespace vardel {

namespace {

using install::FileChange;
using Kind = install::FileChange::Kind;

[[noreturn]] void fail(const char* text) {
    throw MyError(OPERATION_FAILED, text);
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string joined(const std::vector<std::string>& argv) {
    std::string s;
    for (const std::string& a : argv) s += (s.empty() ? "" : " ") + a;
    return s;
}

}  // namespace

Installer::Installer(Options options, LogSink sink)
    : o_(std::move(options)), sink_(std::move(sink)) {}

void Installer::write(const std::string& text) {
    log_ += text;
    if (sink_) sink_(text);
}

std::string Installer::source(const char* name) const {
    return o_.scratch + "/" + PayloadUnpacker::kFolderName + "/" + name;
}

std::string Installer::payload_text(const char* name) const {
    std::string text;
    platform::File f;
    if (!f.open(source(name), platform::OpenMode::Read)) return text;
    char buf[65536];
    ssize_t n;
    while ((n = f.read(buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    return text;
}

install::ProgramLayout Installer::layout() const {
    return install::ProgramLayout::in_one_folder(o_.state.install_dir());
}

void Installer::step(const char* title, void (Installer::*body)()) {
    write(title);
    (this->*body)();
    write("\tDone\n");
}

bool Installer::run() {
    write("Starting installation...\n");
    bool ok = true;
    try {
        step("Create all required dirs... ", &Installer::create_folders);
        step("Copy all files to install dir... ", &Installer::copy_files);
        step("Create registry entries... ", &Installer::write_store);
        step("Install service... ", &Installer::install_service);
        step("Setup Auto Starts... ", &Installer::auto_starts);
        step("Create menu items... ", &Installer::menu_items);
        step("Associate icon... ", &Installer::associate);
        step("Cleanup... ", &Installer::cleanup);
        if (o_.state.upgrade()) step("Setup reboot copy... ", &Installer::replace_files);
        write("Complete!\n");
    } catch (const MyError& e) {
        write(strprintf("Unanticipated error: %s\n", e.message()));
        write("Installation aborted\n");
        ok = false;
    }
    // The log outlives the scratch files, for the "see log file" message.
    platform::write_file_atomically(o_.scratch + "/" + kLogFile, log_, nullptr, nullptr, 0600);
    return ok;
}

void Installer::create_folders() {
    const std::string& data = o_.state.data_dir();
    for (const std::string& folder : {o_.state.install_dir(), data, data + install::kLogFolder}) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec || !std::filesystem::is_directory(folder)) {
            write(strprintf("\n\tCan't create %s -- %s\n", folder.c_str(),
                            ec ? system_error_text(ec.value()) : "not a folder"));
            fail("failed to create required dirs");
        }
    }
}

void Installer::copy_files() {
    for (const install::InstalledFile& f : install::installed_files()) {
        std::string target = o_.state.install_dir() + f.name;
        if (o_.state.upgrade()) target += ".NEW";
        std::string error = install::copy_file(source(f.name), target, f.program ? 0755 : 0644);
        if (!error.empty()) {
            write(strprintf("\n\tCopy failed for %s -- %s\n", f.name, error.c_str()));
            fail("failed to copy required files");
        }
    }
}

void Installer::write_store() {
    std::optional<registry::Key> key;
    try {
        // Only the installer (and vardelreg) makes the machine-wide store.
        platform::RegistryStore::create_current();
        key = registry::create_key(registry::Root::LocalMachine, kProductKey);
    } catch (const MyError&) {
    } catch (const platform::RegistryError&) {
    }
    if (!key) {
        write(strprintf("\nCouldn't open registry path %s\n", kProductKey));
        fail("failed to open registry for writing");
    }
    const std::string& data = o_.state.data_dir();
    try {
        registry::Transaction tx(registry::Transaction::Mode::Write);
        registry::write_text(*key, kInstallDirValue, o_.state.install_dir());
        registry::write_text(*key, kDataPathValue, data);
        registry::write_text(*key, install::kLogFilePathValue, data + install::kLogFolder);
        registry::write_number(*key, kServerPortValue, install::kServerPort);
        registry::write_text(*key, kCurrentVersionValue, kProductVersion);
        tx.commit();
    } catch (const MyError& e) {
        write(strprintf("\nCouldn't open registry path %s\n", kProductKey));
        fail("failed to open registry for writing");
    }
}

std::string Installer::system_command(const std::vector<std::string>& argv) {
    if (!o_.places.is_real()) {
        left_to_system_.push_back(joined(argv));
        return {};
    }
    std::string program = platform::find_program(argv[0]);
    if (program.empty()) return argv[0] + " not found";
    std::vector<std::string> args = argv;
    args[0] = program;
    platform::ProgramResult r = platform::run_program(
        args, {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C"}, std::chrono::minutes(1));
    if (r.exit_status == 0) return {};
    std::string out = r.output.substr(0, r.output.find('\n'));
    return out.empty() ? joined(argv) + " failed" : out;
}

void Installer::install_service() {
    bool installed = false;
    for (const std::string& folder : o_.places.unit_folders())
        if (exists(folder + "/" + install::kServiceUnit)) installed = true;
    if (!installed) {
        if (platform::find_program("systemctl").empty()) {
            write("\n\tCan't connect with SCM\n");
            fail("failed to connect with SCM");
        }
        std::string unit = o_.places.unit_folder() + "/" + install::kServiceUnit;
        std::string error =
            install::apply_changes({{Kind::Write, unit, install::service_unit_text(layout())}});
        std::string detail;
        if (error.empty()) {
            if (o_.places.is_real()) o_.services.reload_units();
            if (o_.services.enable(install::kServiceUnit, o_.places.root(), &detail) !=
                platform::ServiceFailure::None)
                error = detail;
        }
        if (!error.empty()) {
            write(strprintf("\n\tCan't create new service. Error=%s\n", error.c_str()));
            fail("failed to create service");
        }
    }
    control_group();
}

void Installer::control_group() {
    const char* group = install::kControlGroup;
    std::string error;
    if (!platform::group_exists(group)) error = system_command({"groupadd", "--system", group});
    if (error.empty() && o_.user.uid != 0 && !o_.user.name.empty() &&
        !platform::user_in_group(o_.user, group))
        error = system_command({"usermod", "--append", "--groups", group, o_.user.name});
    if (!error.empty()) {
        write(strprintf("\n\tCan't set up group %s -- %s\n", group, error.c_str()));
        fail("failed to set up the control group");
    }
}

void Installer::auto_starts() {
    const bool own = o_.state.per_user();
    install::DesktopFolders folders =
        own ? install::user_desktop_folders(o_.user) : o_.places.desktop();
    if (folders.autostart.empty() || folders.autostart[0] != '/') {
        write("\n\tCan't get autostart path\n");
        fail("failed to get autostart path\n");
    }
    std::string error = install::apply_changes(
        {{Kind::Folder, folders.autostart, {}},
         {Kind::Remove, folders.autostart + "/" + install::kOldAutostartEntry, {}},
         {Kind::Write, folders.autostart + "/" + install::kAutostartEntry,
          install::autostart_entry_text(layout())}},
        own ? &o_.user : nullptr);
    if (!error.empty()) {
        write("\n\tCan't get autostart path\n");
        fail("failed to get autostart path\n");
    }
}

void Installer::menu_items() {
    const bool own = o_.state.per_user();
    install::DesktopFolders folders =
        own ? install::user_desktop_folders(o_.user) : o_.places.desktop();
    if (folders.applications.empty() || folders.applications[0] != '/') {
        write("\n\tCan't get menu path\n");
        fail("failed to get menu path");
    }
    const std::string menu = folders.menu_folder();
    std::vector<FileChange> changes = {{Kind::Folder, menu, {}}};
    for (const install::MenuEntry& e : install::menu_entries()) {
        std::string path = menu + "/" + install::menu_entry_file(e);
        changes.push_back({Kind::Remove, path, {}});
        changes.push_back({Kind::Write, path, install::menu_entry_text(e, layout())});
    }
    changes.push_back({Kind::Write, folders.directories + "/" + install::menu_directory_file(),
                       install::menu_directory_text()});
    changes.push_back({Kind::Write, folders.merged_menus + "/" + install::merged_menu_file(),
                       install::merged_menu_text()});
    // Passed as text: a batch run with the user's rights cannot read the
    // scratch folder.
    changes.push_back({Kind::Write, folders.icons + "/scalable/apps/" + install::kIconFile,
                       payload_text(install::kIconFile)});
    std::string error = install::apply_changes(changes, own ? &o_.user : nullptr);
    if (!error.empty()) {
        write(strprintf("\n\tCan't get menu path\n\t%s\n", error.c_str()));
        fail("failed to get menu path");
    }
}

void Installer::associate() {
    // The file type is the machine's, whoever gets the menus.
    install::DesktopFolders folders = o_.places.desktop();
    struct Piece {
        FileChange change;
        const char* failure;
    };
    const Piece pieces[] = {
        {{Kind::Write, folders.mime + "/packages/" + install::kMimePackage,
          install::mime_package_text()},
         "failed to open registry to create icon association (1)"},
        {{Kind::Copy, folders.icons + "/scalable/mimetypes/" + install::type_icon_file(),
          source(install::kIconFile)},
         "failed to open registry to create icon association (2)"},
        {{Kind::Write, folders.menu_folder() + "/" + install::kAssociationEntry,
          install::association_entry_text(layout())},
         "failed to open registry to create icon association (3)"},
    };
    for (const Piece& p : pieces) {
        std::string error = install::apply_changes({p.change});
        if (!error.empty()) {
            write(strprintf("\n\tCan't open registry -- %s\n", error.c_str()));
            fail(p.failure);
        }
    }
    install::refresh_cache("update-mime-database", folders.mime);
    install::refresh_cache("update-desktop-database", folders.applications);
}

void Installer::remove_scratch_files(const std::string& scratch, bool folder_too) {
    ::unlink((scratch + "/" + PayloadUnpacker::kArchiveName).c_str());
    platform::TreeRemoval report;
    platform::remove_tree(scratch + "/" + PayloadUnpacker::kFolderName, report);
    if (folder_too) ::rmdir(scratch.c_str());
}

void Installer::cleanup() {
    // The folder stays for the log.
    remove_scratch_files(o_.scratch, false);
}

void Installer::replace_files() {
    for (const install::InstalledFile& f : install::installed_files()) {
        std::string target = o_.state.install_dir() + f.name;
        if (::rename((target + ".NEW").c_str(), target.c_str()) != 0) {
            write(strprintf("\n\tQueued copy failed -- %s\n", system_error_text(errno)));
            fail("failed to copy required files");
        }
    }
}

}  // namespace vardel
