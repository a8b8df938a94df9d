// The uninstaller: which folders its clean-up may delete, both phases on a
// real installation in a scratch folder, and the dialog under Xvfb.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "common/registry.h"
#include "common/suite_names.h"
#include "tests/support/installation.h"
#include "tests/support/scratch.h"
#include "tests/support/x_display.h"
#include "vardelremove/removal_guard.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;

class RemoveTest : public test::ScratchTest {};

// Judged only: whatever the guard says, nothing here is deleted.
TEST_F(RemoveTest, GuardRefusesWhatTheSystemAndItsPeopleNeed) {
    fs::create_directories(path("home/ann"));
    fs::create_directories(path("apps/vardel"));
    fs::create_directories(path("pkg/owned"));
    fs::create_symlink(path("apps/vardel"), path("apps/link"));
    fs::create_symlink("/usr", path("apps/usr"));
    write_file("sys/var/lib/dpkg/info/other.list", "/usr\n" + path("pkg/owned") + "\n");
    RemovalGuard guard{install::SystemPlaces(path("sys")), {path("home/ann")}};

    EXPECT_EQ(guard.judge("/opt"), FolderVerdict::TooShort);
    EXPECT_EQ(guard.judge("/"), FolderVerdict::TooShort);
    EXPECT_EQ(guard.judge("/home/"), FolderVerdict::Protected);
    EXPECT_EQ(guard.judge("/opt//"), FolderVerdict::Protected);
    EXPECT_EQ(guard.judge("/usr/bin/"), FolderVerdict::Protected);
    EXPECT_EQ(guard.judge("/var/lib"), FolderVerdict::Protected);
    EXPECT_EQ(guard.judge("/proc/self/cwd"), FolderVerdict::Protected);
    EXPECT_EQ(guard.judge("/opt/../etc/ssh"), FolderVerdict::Protected);
    EXPECT_EQ(guard.judge(path("home/ann/")), FolderVerdict::Protected);
    EXPECT_EQ(guard.judge(path("home")), FolderVerdict::Protected) << "it holds a home";
    EXPECT_EQ(guard.judge(path("pkg/owned")), FolderVerdict::Protected);
    EXPECT_EQ(guard.judge(path("apps/link")), FolderVerdict::Link);
    EXPECT_EQ(guard.judge(path("apps/usr/share")), FolderVerdict::Protected);
    EXPECT_EQ(guard.judge("opt/vardel"), FolderVerdict::NotFullPath);
    EXPECT_EQ(guard.judge(path("apps/gone")), FolderVerdict::Missing);
    EXPECT_EQ(guard.judge(path("apps/vardel/")), FolderVerdict::Deletable);
}

std::string exec_start(const std::string& unit_text) {
    std::smatch m;
    std::regex_search(unit_text, m, std::regex("ExecStart=(.*)\n"));
    return m[1];
}

TEST_F(RemoveTest, RemovesAnInstallationCompletelyAndNothingBesides) {
    test::ScratchInstall install(scratch());
    test::ChildResult r = install.setup();
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    // Backups elsewhere, and links from inside the install to them.
    write_file("backups/B1_1.SAF", "a backup");
    fs::create_symlink(path("backups"), install.prefix() + "to-backups");
    fs::create_symlink(path("backups/B1_1.SAF"), install.data() + "logs/latest");

    r = install.run_installed("vardelremove", {"--unattended", "--root", install.sys()});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(
        r.out,
        "Begin Uninstall...\nShutdown service... \tDone\nDelete auto-start entries... \tDone\n"
        "Set up reboot cleanup process... \tDone\n\nUninstall Complete!\n");
    const std::string units = install.system_path("/etc/systemd/system/");
    EXPECT_FALSE(fs::exists(units + "vardelclient.service"));
    EXPECT_FALSE(fs::exists(units + "multi-user.target.wants/vardelclient.service"));
    EXPECT_FALSE(fs::exists(install.system_path("/etc/xdg/autostart/vardelnotify.desktop")));
    EXPECT_TRUE(fs::exists(install.prefix() + "vardelnotify")) << "removed only after the restart";
    ASSERT_TRUE(fs::is_symlink(units + "multi-user.target.wants/vardelcleanup.service"));

    // What the restart runs.
    std::string command = exec_start(read_file(units + "vardelcleanup.service"));
    ASSERT_FALSE(command.empty());
    r = test::run_program({"/bin/sh", "-c", command}, install.environment());
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    std::string log = read_file(install.system_path("/var/tmp/vardel-remove/uninstall_log.txt"));
    EXPECT_NE(log.find("Start cleanup\nGet Programs path\nDelete data path\nDelete menus\n"
                       "Delete registry entries\nDone\n"),
              std::string::npos)
        << log;
    for (const std::string& gone :
         {install.prefix(), install.data(),
          install.system_path("/usr/local/share/applications/vardel-pellin"),
          install.system_path("/etc/xdg/menus/applications-merged/vardel-pellin.menu"),
          install.system_path("/usr/local/share/mime/packages/vardel-saf.xml"),
          units + "vardelcleanup.service", units + "multi-user.target.wants/vardelcleanup.service"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(gone))) << gone;
    EXPECT_FALSE(registry::open_key(registry::Root::LocalMachine, kProductKey));
    EXPECT_EQ(read_file(path("backups/B1_1.SAF")), "a backup");

    // A second run finds nothing to remove.
    r = test::run_program({install.system_path("/var/tmp/vardel-remove/removevardel"),
                           "--unattended", "--root", install.sys()},
                          install.environment());
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_NE(r.err.find("Can't open registry"), std::string::npos) << r.err;
}

TEST_F(RemoveTest, CleanupLeavesFoldersItMustNotDeleteAndSaysWhy) {
    test::ScratchInstall install(scratch());
    write_file("apps/no-marker/keep.txt", "not ours");
    write_file("data/logs/LOG_0.txt", "log");
    fs::create_directories(path("real"));
    fs::create_symlink(path("real"), path("linked"));
    auto cleanup = [&](const std::string& install_dir, const std::string& data_dir) {
        // Each clean-up deletes the product key; the next one needs it anew.
        auto key = registry::create_key(registry::Root::LocalMachine, kProductKey);
        registry::write_text(*key, kCurrentVersionValue, "1.1");
        registry::write_text(*key, kInstallDirValue, install_dir);
        registry::write_text(*key, kDataPathValue, data_dir);
        test::ChildResult r =
            test::run_program({test::program_path("vardelremove"), "-R", "--root", install.sys()},
                              install.environment());
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return read_file(install.system_path("/var/tmp/vardel-remove/uninstall_log.txt"));
    };
    std::string log = cleanup(path("apps/no-marker/"), path("data/"));
    EXPECT_NE(log.find("Couldn't find 'vardelnotify' in specified programs dir. Won't attempt to "
                       "delete.\nDelete data path\nDelete menus\n"),
              std::string::npos)
        << log;
    EXPECT_TRUE(fs::exists(path("apps/no-marker/keep.txt")));
    EXPECT_FALSE(fs::exists(path("data"))) << "the data folder goes all the same";

    log = cleanup(path("linked"), path("linked/"));
    EXPECT_NE(log.find("Program path " + path("linked") +
                       " is a symbolic link. Won't attempt to delete.\n"),
              std::string::npos)
        << log;
    EXPECT_TRUE(fs::exists(path("real")));
}

// Root runs the clean-up copy at the next start: a folder another account
// could have made or opened (a link, world-writable) is never used for it.
TEST_F(RemoveTest, RefusesAWorkFolderSomeoneElseCouldHavePlanted) {
    test::ScratchInstall install(scratch());
    ASSERT_EQ(install.setup().exit_code, 0);
    const std::string work = install.system_path("/var/tmp/vardel-remove");
    fs::create_directories(path("elsewhere"));
    fs::create_directories(install.system_path("/var/tmp"));
    fs::create_symlink(path("elsewhere"), work);
    test::ChildResult r =
        install.run_installed("vardelremove", {"--unattended", "--root", install.sys()});
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_NE(r.err.find("Couldn't create log file"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(path("elsewhere")));

    fs::remove(work);
    fs::create_directories(work);
    fs::permissions(work, fs::perms::all);
    r = install.run_installed("vardelremove", {"--unattended", "--root", install.sys()});
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_TRUE(fs::exists(install.system_path("/etc/systemd/system/vardelclient.service")))
        << "nothing is removed when the clean-up cannot be set up safely";
}

TEST(Vardelremove, ShowsItsDialogAndEndsWhenItIsClosed) {
    std::string scratch = test::make_temp_dir();
    test::ScratchInstall install(scratch);
    std::vector<std::string> env = install.environment();
    env.push_back("VARDEL_ROOT=" + scratch + "/store");
    test::ChildResult r =
        test::run_program({test::program_path("vardelsetup"), "--unattended", "--root",
                           install.sys(), "--prefix", install.prefix(), "--data", install.data()},
                          env);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(
        test::XDisplay().show_and_close(
            {test::program_path("vardelremove"), "--root", install.sys()}, "Uninstall Vardel", env),
        "");
    EXPECT_TRUE(fs::exists(install.prefix() + "vardelnotify")) << "closing it removes nothing";
    test::remove_tree(scratch);
}

}  // namespace
}  // namespace vardel
