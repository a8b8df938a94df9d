// The Debian package, built from this tree by CPack: what it holds, what
// lintian says of it, and an install and purge with dpkg in a scratch root.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;

class PackageTest : public test::ScratchTest {
  protected:
    // Builds the package once into the scratch folder; its path.
    std::string build_package() {
        test::ChildResult r =
            test::run_program({VARDEL_CPACK, "-G", "DEB", "-B", path("out"), "--config",
                               std::string(VARDEL_BUILD_DIR) + "/CPackConfig.cmake"},
                              {}, {}, std::chrono::minutes(4));
        EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
        return path("out/vardel_1.1_amd64.deb");
    }
    test::ChildResult dpkg(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {
            "/usr/bin/dpkg",    "--root=" + path("sys"), "--force-script-chrootless",
            "--force-not-root", "--force-depends",       "--log=" + path("dpkg.log")};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::run_program(argv, {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"});
    }
    // Files and links below the scratch root outside dpkg's own records.
    std::vector<std::string> installed_files() {
        std::vector<std::string> files;
        for (auto it = fs::recursive_directory_iterator(path("sys"));
             it != fs::recursive_directory_iterator(); ++it) {
            std::string p = it->path().string().substr(path("sys").size());
            if (p.rfind("/var/lib/dpkg", 0) == 0) continue;
            if (!it->is_directory() || it->is_symlink()) files.push_back(p);
        }
        return files;
    }
};

TEST_F(PackageTest, HoldsTheSuiteInstallsIntoARootAndPurgesWithoutTrace) {
    std::string deb = build_package();
    ASSERT_TRUE(fs::exists(deb));

    test::ChildResult info = test::run_program({"/usr/bin/dpkg-deb", "--info", deb});
    for (const char* field : {"Package: vardel", "Version: 1.1", "libqt6widgets6", " postinst",
                              " postrm", " prerm", " conffiles"})
        EXPECT_NE(info.out.find(field), std::string::npos) << field << "\n" << info.out;
    test::ChildResult contents = test::run_program({"/usr/bin/dpkg-deb", "--contents", deb});
    for (const char* file :
         {"./usr/sbin/vardeld", "./usr/bin/vardelcfg", "./usr/bin/vardelrestore",
          "./usr/bin/vardelnotify", "./lib/systemd/system/vardelclient.service",
          "./etc/xdg/autostart/vardelnotify.desktop",
          "./usr/share/applications/vardel-pellin/Backup Settings.desktop",
          "./usr/share/applications/vardel-pellin/vardelrestore-saf.desktop",
          "./usr/share/mime/packages/vardel-saf.xml", "./usr/share/vardel/help.html"})
        EXPECT_NE(contents.out.find(file), std::string::npos) << file;

    if (fs::exists("/usr/bin/lintian")) {
        test::ChildResult lint =
            test::run_program({"/usr/bin/lintian", deb}, {}, {}, std::chrono::minutes(4));
        EXPECT_EQ(lint.out.find("E: "), std::string::npos) << lint.out;
    } else {
        ADD_FAILURE() << "lintian is missing: scripts/install-deps installs it";
    }

    for (const char* dir : {"sys/var/lib/dpkg/info", "sys/var/lib/dpkg/updates"})
        fs::create_directories(path(dir));
    write_file("sys/var/lib/dpkg/status", "");
    test::ChildResult r = dpkg({"--install", deb});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_TRUE(fs::exists(path("sys/usr/sbin/vardeld")));
    EXPECT_TRUE(fs::is_symlink(
        path("sys/etc/systemd/system/multi-user.target.wants/vardelclient.service")));
    // The maintainer script made the store inside that root.
    test::ChildResult store =
        test::run_program({test::program_path("vardelreg"), "get",
                           "HKLM\\software\\Brindlecore\\Vardel", "InstallDir"},
                          {"VARDEL_ROOT=" + path("sys/var/lib/vardel")});
    EXPECT_EQ(store.out, "/usr/bin/\n") << store.err;
    EXPECT_TRUE(fs::is_directory(path("sys/var/lib/vardel/logs")));

    r = dpkg({"--purge", "vardel"});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(installed_files(), std::vector<std::string>{});
}

}  // namespace
}  // namespace vardel

namespace vardel {
namespace {

// Every Help button opens help.html at its context number; each needs its section.
TEST(HelpFile, HasASectionForEveryContextTheProgramsOpen) {
    std::string help =
        test::read_whole_file(std::string(VARDEL_SOURCE_DIR) + "/packaging/help.html");
    std::vector<int> contexts = {30, 110, 120, 130, 150, 160, 170, 190, 200, 330, 480};
    for (int page = 0; page < 10; ++page) contexts.push_back(210 + 10 * page);
    for (int c : contexts)
        EXPECT_NE(help.find("id=\"" + std::to_string(c) + "\""), std::string::npos) << c;
}

}  // namespace
}  // namespace vardel
