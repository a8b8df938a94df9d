// vardelcfg's command line, as a script or an administrator uses it: the
// real program against the test's store, and a real service that reloads.
#include "vardelcfg/command_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "common/general_settings.h"
#include "tests/support/running_service.h"

namespace vardel {
namespace {

using test::status_lines;

class Vardelcfg : public test::ServiceTest {
  protected:
    test::ChildResult cfg(std::vector<std::string> args, const std::string& input = {}) {
        args.insert(args.begin(), test::program_path("vardelcfg"));
        return test::run_program(args, {}, input);
    }
    static GeneralSettings stored() {
        GeneralSettings g;
        g.load();
        return g;
    }
};

TEST_F(Vardelcfg, AHandWrittenSetFileReachesTheStoreAndTheRunningService) {
    ASSERT_TRUE(start_service()) << service_output();
    EXPECT_EQ(status_lines(status_text()).at(9), "No backups scheduled");

    test::ChildResult r =
        cfg({"--import-sets", std::string(VARDEL_SOURCE_DIR) + "/tests/data/office.bst"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");

    GeneralSettings g = stored();
    ASSERT_EQ(g.backup_sets().size(), 2u);
    const BackupSet& n = *g.backup_sets().find("nightly");
    EXPECT_EQ(n.BackupType, BACKUP_INCREMENTAL);
    EXPECT_EQ(n.BackupsPerCycle, 7);
    EXPECT_EQ(n.BackupDirs, "/home\r\n/etc");
    EXPECT_EQ(n.SaveFormat, SAVE_ZIP);
    EXPECT_EQ(n.ExecuteOnFailure, "/usr/local/bin/page-admin \"backup failed\"");
    const BackupSet& d = *g.backup_sets().find("Documents");
    EXPECT_EQ(d.IntervalType, INTERVAL_ON_DEMAND);
    EXPECT_TRUE(d.TrackDeletedFiles);
    EXPECT_EQ(d.CyclesToSave, BackupSet().CyclesToSave);

    // The import told the service, which now schedules the daily set.
    EXPECT_TRUE(test::wait_until([&] {
        return status_lines(status_text()).at(9).starts_with("Next backup: 'Nightly' at");
    })) << status_text();

    // And one set goes back out as the same text.
    r = cfg({"--export-sets", path("one.bst"), "--set", "DOCUMENTS"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(read_file(path("one.bst")).starts_with("[Documents]\r\nBackupType=Full\r\n"));
}

TEST_F(Vardelcfg, SettingsGoOutAndComeBackThroughTheStore) {
    GeneralSettings g = stored();
    g.KeepNLogs = 7;
    g.ApprovedServers = "one\r\ntwo";
    g.save();
    test::ChildResult r = cfg({"--export-settings", path("s.ini")});
    ASSERT_EQ(r.exit_code, 0) << r.err;

    g.KeepNLogs = 2;
    g.ApprovedServers = "";
    g.save();
    r = cfg({"--import-settings", path("s.ini")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(stored().KeepNLogs, 7);
    EXPECT_EQ(stored().ApprovedServers, "one\r\ntwo");
}

TEST_F(Vardelcfg, FailuresSaySoAndChangeNothing) {
    write_file("sets.bst", "[Nightly]\nKeepNLogs=3\n");
    test::ChildResult r = cfg({"--import-settings", path("sets.bst")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Missing required section '[SETTINGS]'\n");
    EXPECT_EQ(stored().KeepNLogs, 3);

    write_file("odd.bst", "BackupType=Full\n[Nightly]\n");
    r = cfg({"--import-sets", path("odd.bst")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Missing Set Name line\n");

    r = cfg({"--export-sets", path("none.bst")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "No BackupSets defined\n");
    EXPECT_FALSE(std::filesystem::exists(path("none.bst")));

    // Unknown keys are told, and the rest is imported.
    write_file("typo.bst", "[Nightly]\nBackupTyp=Full\nCyclesToSave=9\n");
    r = cfg({"--import-sets", path("typo.bst")});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "Unknown parameter 'BackupTyp'\n");
    EXPECT_EQ(stored().backup_sets().find("Nightly")->CyclesToSave, 9);

    // A name that cannot be one key of the store: refused whole.
    write_file("slash.bst", "[Daily/Weekly]\n[Other]\n");
    r = cfg({"--import-sets", path("slash.bst")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err, "");
    EXPECT_EQ(stored().backup_sets().size(), 1u);

    r = cfg({"--export-sets", path("x.bst"), "--set", "Weekly"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Specified backup name (Weekly) not found\n");
    EXPECT_EQ(cfg({"--import-sets"}).exit_code, 2);
    EXPECT_EQ(cfg({"--set-password", "root"}).exit_code, 2);
    // Not a terminal and no --stdin: refused rather than read blindly.
    EXPECT_EQ(cfg({"--set-password", "encoding"}, "pw\n").exit_code, 2);
}

TEST_F(Vardelcfg, APasswordComesFromStandardInputOrATerminalWithoutEcho) {
    test::ChildResult r = cfg({"--set-password", "share", "--stdin"}, "s3cret \\n\r\nnext\n");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(stored().SharePassword, "s3cret \\n");
    r = cfg({"--set-password", "share", "--stdin"}, "caf\xC3\xA9\n");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Password contains characters that cannot be stored\n");
    EXPECT_EQ(stored().SharePassword, "s3cret \\n");

    // On a terminal: asked twice, never shown.
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    std::string slave = ::ptsname(master);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        int fd = ::open(slave.c_str(), O_RDWR);
        ::ioctl(fd, TIOCSCTTY, 0);
        ::dup2(fd, 0);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        std::string prog = test::program_path("vardelcfg");
        ::execl(prog.c_str(), prog.c_str(), "--set-password", "encoding", nullptr);
        ::_exit(127);
    }
    std::string seen;
    auto read_until = [&](const std::string& what) {
        while (seen.find(what) == std::string::npos) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) return false;
            char buf[256];
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) return false;
            seen.append(buf, static_cast<size_t>(n));
        }
        return true;
    };
    EXPECT_TRUE(read_until("New encoding password: ")) << seen;
    ASSERT_EQ(::write(master, "Tr0ub4dor\n", 10), 10);
    EXPECT_TRUE(read_until("Retype the new encoding password: ")) << seen;
    ASSERT_EQ(::write(master, "Tr0ub4dor\n", 10), 10);
    int status = 0;
    bool ended = test::wait_until([&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    read_until("\x01");  // whatever is left
    ::close(master);
    ASSERT_TRUE(ended) << seen;
    EXPECT_EQ(WEXITSTATUS(status), 0) << seen;
    EXPECT_EQ(seen.find("Tr0ub4dor"), std::string::npos) << seen;
    EXPECT_EQ(stored().EncodingPassword, "Tr0ub4dor");
}

}  // namespace
}  // namespace vardel
