#include "vardeld/share_logon.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <mutex>

#include "common/log.h"
#include "platform/process.h"
#include "tests/support/scratch.h"
#include "tests/support/tiny_fs.h"
#include "vardeld/backup.h"
#include "vardeld/run_flags.h"
#include "vardeld/service_messages.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;
using platform::CifsMountRequest;
using platform::CifsMountResult;
using platform::MountEntry;

constexpr const char* kPassword = "Pa55-w0rd!";

class FakeTable : public platform::MountTable {
  public:
    std::vector<MountEntry> mounts() const override {
        ++reads;
        return entries;
    }
    void add(const std::string& source, const std::string& mount_point,
             const std::string& root = "/") {
        entries.push_back({root, mount_point, "cifs", source});
    }
    std::vector<MountEntry> entries;
    mutable int reads = 0;
};

class FakeMount : public platform::CifsMount {
  public:
    CifsMountResult mount(const CifsMountRequest& r) override {
        calls.push_back(r);
        return result;
    }
    std::vector<CifsMountRequest> calls;
    CifsMountResult result;
};

class LineSink : public LogSink {
  public:
    void write_line(int, std::string_view text) override { lines.emplace_back(text); }
    std::vector<std::string> lines;
};

class ShareLogonTest : public test::ScratchTest {
  protected:
    void SetUp() override {
        ScratchTest::SetUp();
        Logger::instance().set_min_level(LOG_DEBUG);
        Logger::instance().add_sink(&sink, SinkOrder::Other);
        fs::create_directories(path("mnt"));
        settings.ShareLogin = "backup";
        settings.SharePassword = kPassword;
    }
    void TearDown() override {
        Logger::instance().remove_sink(&sink);
        ScratchTest::TearDown();
    }
    ShareLogonResult run(const std::string& destination, ShareLogon* logon = nullptr) {
        sink.lines.clear();
        ShareLogon own(table, mounter);
        return (logon ? logon : &own)->log_on_if_necessary(destination, settings);
    }
    std::vector<std::string> lines(std::initializer_list<const char*> l) {
        std::vector<std::string> out;
        for (const char* s : l) out.push_back(std::string(s) + "\r\n");
        return out;
    }
    void expect_password_nowhere() {
        for (const auto& l : sink.lines) EXPECT_EQ(l.find(kPassword), std::string::npos) << l;
        for (auto& e : fs::recursive_directory_iterator(path("root"))) {
            if (!e.is_regular_file()) continue;
            EXPECT_EQ(read_file(e.path().string()).find(kPassword), std::string::npos) << e.path();
        }
    }
    std::string shares() { return path("root/run/shares"); }

    LineSink sink;
    FakeTable table;
    FakeMount mounter;
    GeneralSettings settings;
};

TEST_F(ShareLogonTest, ALocalDestinationIsUsedAsItIs) {
    ShareLogonResult r = run("/srv/backups/nightly");
    EXPECT_TRUE(r.reachable);
    EXPECT_EQ(r.folder, "/srv/backups/nightly");
    EXPECT_EQ(sink.lines, lines({"LogOnIfNecessary /srv/backups/nightly", "Not a UNC"}));
    EXPECT_EQ(table.reads, 0);
    EXPECT_TRUE(mounter.calls.empty());
}

TEST_F(ShareLogonTest, AMountedShareIsUsedWithoutMountingEvenWithALogin) {
    table.add("//NAS/Backups", path("mnt"));
    ShareLogon logon(table, mounter);
    ShareLogonResult r = run("\\\\nas\\backups\\pc1\\daily", &logon);
    EXPECT_TRUE(r.reachable);
    EXPECT_EQ(r.folder, path("mnt") + "/pc1/daily");
    EXPECT_EQ(sink.lines,
              lines({"LogOnIfNecessary \\\\nas\\backups\\pc1\\daily", "DISK Resource=//nas/backups",
                     "Do LogonUser section", "LogonUser succeeded", "Successfully impersonating",
                     "Will try to log on", "GetFileAttributes succeeded with 10"}));
    EXPECT_TRUE(mounter.calls.empty());

    // The share user is set up once per run.
    r = run("//nas/backups", &logon);
    EXPECT_EQ(r.folder, path("mnt"));
    EXPECT_EQ(sink.lines, lines({"LogOnIfNecessary //nas/backups", "DISK Resource=//nas/backups",
                                 "Will try to log on", "GetFileAttributes succeeded with 10"}));
}

TEST_F(ShareLogonTest, TheMountCoveringMostOfTheDestinationWins) {
    for (const char* d : {"a", "b", "c", "d", "e"}) fs::create_directories(path(d));
    table.add("//nas/backups2", path("a"));  // another share
    table.add("//nas2/backups", path("a"));  // another server
    table.add("//nas/backups", path("a"));
    table.add("//nas/backups/PC1", path("b"));            // mounted from a folder of the share
    table.add("//nas/backups/pc1/other", path("a"));      // beside the destination
    table.add("//nas/backups", path("c"), "/pc1/daily");  // bind mount of a folder
    table.add("//nas/backups/pc1/daily/deeper", path("a"));
    EXPECT_EQ(run("//nas/backups/pc1/daily/x").folder, path("c") + "/x");
    EXPECT_EQ(run("//nas/backups/pc1/weekly").folder, path("b") + "/weekly");
    EXPECT_EQ(run("//nas/backups/pc2").folder, path("a") + "/pc2");
    // Of equal mounts, the later one lies on top.
    table.add("//nas/backups", path("d"));
    EXPECT_EQ(run("//nas/backups/pc2").folder, path("d") + "/pc2");
    EXPECT_TRUE(mounter.calls.empty());
}

TEST_F(ShareLogonTest, AShareThatIsNotMountedAndHasNoLoginIsNotReachable) {
    settings.ShareLogin.clear();
    table.add("//nas/other", path("mnt"));
    ShareLogonResult r = run("//nas/backups/pc1");
    EXPECT_FALSE(r.reachable);
    EXPECT_EQ(r.error_number, ENOTCONN);
    EXPECT_EQ(sink.lines,
              lines({"LogOnIfNecessary //nas/backups/pc1", "DISK Resource=//nas/backups",
                     "Skip LogonUser section", "Will try to log on", "Must try to log onto share",
                     "No share login specified"}));
    EXPECT_TRUE(mounter.calls.empty());
}

TEST_F(ShareLogonTest, AShareThatIsNotMountedIsMountedUnderTheRunFolderAsTheShareUser) {
    mounter.result.mounted = true;
    ShareLogonResult r = run("//NAS/Backups/pc1/");
    EXPECT_TRUE(r.reachable);
    EXPECT_EQ(r.folder, shares() + "/nas/backups/pc1");
    ASSERT_EQ(mounter.calls.size(), 1u);
    const CifsMountRequest& req = mounter.calls[0];
    EXPECT_EQ(req.source, "//NAS/Backups");
    EXPECT_EQ(req.mount_point, shares() + "/nas/backups");
    EXPECT_EQ(req.username, "backup");
    EXPECT_EQ(req.password, kPassword);
    EXPECT_EQ(req.uid, platform::effective_uid());
    EXPECT_EQ(req.gid, platform::effective_gid());
    ASSERT_GE(sink.lines.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(sink.lines.end() - 3, sink.lines.end()),
              lines({"Will try to log on", "Must try to log onto share", "logon succeeded"}));
    expect_password_nowhere();
}

TEST_F(ShareLogonTest, AMountThatCannotBeReachedIsMountedAgain) {
    table.add("//nas/backups", path("gone"));  // in the table, but no such folder
    mounter.result.mounted = true;
    ShareLogonResult r = run("//nas/backups");
    EXPECT_TRUE(r.reachable);
    EXPECT_EQ(r.folder, shares() + "/nas/backups");
    EXPECT_EQ(mounter.calls.size(), 1u);
}

TEST_F(ShareLogonTest, AFailedMountGivesItsErrorAndNeverThePassword) {
    mounter.result.error_number = 13;
    mounter.result.error_text = "Permission denied";
    ShareLogonResult r = run("//nas/backups/pc1");
    EXPECT_FALSE(r.reachable);
    EXPECT_EQ(r.error_number, 13);
    EXPECT_EQ(r.error_text, "Permission denied");
    ASSERT_FALSE(sink.lines.empty());
    EXPECT_EQ(sink.lines.back(), "Must try to log onto share\r\n");
    expect_password_nowhere();
}

TEST_F(ShareLogonTest, ALoginACredentialsFileCannotHoldFailsTheLogonButStillTries) {
    settings.SharePassword = "two\nlines";
    mounter.result.error_number = EINVAL;
    ShareLogonResult r = run("//nas/backups");
    EXPECT_FALSE(r.reachable);
    EXPECT_EQ(sink.lines, lines({"LogOnIfNecessary //nas/backups", "DISK Resource=//nas/backups",
                                 "Do LogonUser section", "LogonUser failed", "Impersonate failed",
                                 "Will try to log on", "Must try to log onto share"}));
    EXPECT_EQ(mounter.calls.size(), 1u);
}

TEST_F(ShareLogonTest, PathsThatCouldLeaveTheShareAreRefused) {
    mounter.result.mounted = true;
    table.add("//nas/backups", path("mnt"));
    for (const char* bad : {"//nas", "//nas/", "//nas/backups/../../etc", "//nas/../backups",
                            "\\\\nas\\.", "//./backups"}) {
        ShareLogonResult r = run(bad);
        EXPECT_FALSE(r.reachable) << bad;
        EXPECT_EQ(r.error_number, EINVAL) << bad;
        ASSERT_EQ(sink.lines.size(), 2u) << bad;
        EXPECT_EQ(sink.lines[1].rfind("DISK Resource=", 0), 0u);
    }
    EXPECT_TRUE(mounter.calls.empty());
    EXPECT_EQ(run("//nas/backups/./a//b/").folder, path("mnt") + "/a/b");
}

TEST(ShareRoot, IsCutAfterTheShareName) {
    EXPECT_EQ(share_root("\\\\srv\\share\\dir\\sub"), "//srv/share");
    EXPECT_EQ(share_root("//srv/share"), "//srv/share");
    EXPECT_EQ(share_root("//srv/share/"), "//srv/share");
    EXPECT_EQ(share_root("//srv"), "//srv");
    EXPECT_FALSE(is_unc_path("/srv/share"));
    EXPECT_FALSE(is_unc_path("/\\srv\\share"));
}

// A whole run onto a share: the backup lands under the mount point, and a
// share that cannot be mounted fails the run before anything is written.
TEST_F(ShareLogonTest, ARunWritesIntoTheMountedShareAndFailsWhenItCannotMount) {
    write_file("src/a.txt", "to the share");
    BackupSet set;
    set.Name = "Remote";
    set.BackupDirs = path("src");
    set.BackupDestination = "//nas/backups/pc1";
    set.BackuDestinationType = DESTINATION_DIRECTORY;
    table.add("//nas/backups", path("mnt"));
    {
        ShareLogon logon(table, mounter);
        RunFlags flags;
        BackupServices services;
        services.share_logon = &logon;
        Backup backup(set, settings, flags, services);
        EXPECT_EQ(backup.run(), kResultCompleted) << backup.report().str();
    }
    EXPECT_TRUE(fs::exists(path("mnt/pc1/B1_1.SAF")));
    EXPECT_TRUE(fs::exists(path("mnt/pc1/BACKUP.INI")));
    EXPECT_TRUE(mounter.calls.empty());

    table.entries.clear();
    mounter.result.error_number = 13;
    mounter.result.error_text = "Permission denied";
    set.BackupDestination = "//nas/other/pc1";
    ShareLogon logon(table, mounter);
    RunFlags flags;
    BackupServices services;
    services.share_logon = &logon;
    Backup backup(set, settings, flags, services);
    EXPECT_EQ(backup.run(), kResultFailed);
    EXPECT_NE(backup.report().str().find("Can't connect to network drive '//nas/other/pc1'"),
              std::string::npos)
        << backup.report().str();
    EXPECT_EQ(backup.report().str().find(kPassword), std::string::npos);
    EXPECT_FALSE(fs::exists(shares() + "/nas/other/pc1"));
}

// The real mount table, with a tmpfs standing in for a mounted share: the
// run's files land in it, and nothing is mounted.
TEST_F(ShareLogonTest, FilesLandInTheMountedShare) {
    test::TinyFs share(path("share mount"), 1 << 20, "//vardel-test-server/Backups");
    if (!share.ok()) GTEST_SKIP() << share.why_not();
    platform::MountTable real_table;
    ShareLogon logon(real_table, mounter);
    ShareLogonResult r = run("//VARDEL-TEST-SERVER/backups/pc1", &logon);
    ASSERT_TRUE(r.reachable);
    EXPECT_EQ(r.folder, path("share mount") + "/pc1");
    fs::create_directories(r.folder);
    test::write_whole_file(r.folder + "/BACKUP.INI", "[BACKUPSET]\r\n");
    EXPECT_TRUE(mounter.calls.empty());
    EXPECT_TRUE(fs::exists(path("share mount/pc1/BACKUP.INI")));
}

// The real mount runner against a stand-in mount.cifs that refuses the
// login: the password shows in no log line, argument or file.
TEST_F(ShareLogonTest, TheRealMountRunnerKeepsThePasswordToItself) {
    std::string args = path("args.txt");
    std::string fake = write_file("mount.cifs", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + args +
                                                    "'\necho 'mount error(13): Permission denied'\n"
                                                    "exit 32\n");
    fs::permissions(fake, fs::perms::owner_all);
    platform::CifsMount runner(fake);
    ShareLogon logon(table, runner);
    ShareLogonResult r = run("//nas/backups/pc1", &logon);
    EXPECT_FALSE(r.reachable);
    EXPECT_EQ(r.error_number, 13);
    EXPECT_EQ(r.error_text, "Permission denied");
    std::string argv = read_file(args);
    EXPECT_NE(argv.find("//nas/backups\n" + shares() + "/nas/backups\n-o\ncredentials="),
              std::string::npos)
        << argv;
    EXPECT_EQ(argv.find(kPassword), std::string::npos);
    expect_password_nowhere();
    EXPECT_EQ(fs::status(shares()).permissions() & fs::perms::all, fs::perms::owner_all);
}

}  // namespace
}  // namespace vardel
