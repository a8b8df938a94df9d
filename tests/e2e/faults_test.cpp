// Faults thrown at the installed suite while the service runs: a destination
// that fills up, a tree full of trouble (unreadable, vanishing and growing
// files, a crowded folder, a very long path, names of every byte), and
// damaged files (the settings store, "BACKUP.INI", a SAF, a ZIP). Each time
// nothing saved is lost, the user is told, and the service keeps running.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/pipe_record.h"
#include "tests/e2e/suite.h"
#include "tests/support/running_service.h"
#include "tests/support/smtp_server.h"
#include "tests/support/test_data.h"
#include "tests/support/tiny_fs.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::CollectingClient;

class Faults : public test::SuiteTest {
  protected:
    // A set of `format` from `from` into `to`, run on demand only.
    std::string set_text(const std::string& name, const std::string& format,
                         const std::string& from, const std::string& to) {
        return "[" + name + "]\nIntervalType=On Demand\nBackupType=Full\nBackupsPerCycle=9\n" +
               "BackuDestinationType=Directory\nBackupDestination=\"" + to + "\"\n" +
               "BackupDirs=\"" + from + "\"\nSavePathInfo=Y\nIncludeHiddenFiles=Y\n" +
               "SaveFormat=" + format + "\n";
    }
    // Runs the set by request and waits for its end: code 14 completed, 16
    // aborted (text: the set's name) or 15 failed (text: why); code 0 when
    // no end came.
    PipeRecord run_set(const std::string& name) {
        CollectingClient c(CollectingClient::Asks::Register);
        if (!c.connected() || !c.send(PIPE_RUN_SET, name)) return {};
        auto end = c.wait_for(
            [&](const PipeRecord& r) {
                return r.code == PIPE_BACKUP_FAILED ||
                       ((r.code == PIPE_BACKUP_COMPLETED || r.code == PIPE_BACKUP_ABORTED) &&
                        r.text == name);
            },
            0, 120s);
        return end ? c.records()[*end] : PipeRecord{};
    }
    // The service answers its status.
    bool answers() {
        test::ChildResult r = run("vardelctl", {"status"}, {}, 10s);
        return r.exit_code == 0 && test::lines(r.out).size() == 10;
    }
    test::ChildResult extract(const std::string& set, const std::string& base,
                              const std::string& to, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"--extract", "--set", set,  "--latest",
                                      "--base",    base,  "--to", path(to)};
        args.insert(args.end(), more.begin(), more.end());
        return run("vardelrestore", args);
    }
};

// A tmpfs too small for the second backup. A file that cannot be written
// into a SAF is dropped from it and the run goes on without it; a ZIP
// cannot go on after a failed write, so that run fails and its output is
// removed. Either way the first backups and "BACKUP.INI" are as they were,
// what was saved restores, and once there is room the service backs up again.
TEST_F(Faults, AFullDestinationLosesNothingSavedAndTheServiceGoesOn) {
    test::TinyFs tiny(path("backups"), 1536 * 1024);
    if (!tiny.ok()) GTEST_SKIP() << "no tmpfs to fill here: " << tiny.why_not();
    write_file("tree/a.bin", test::random_text(200000, 1));
    write_file("tree/b.txt", test::prose(100000));
    import_sets(set_text("Saf", "SAF Archive", path("tree"), path("backups/saf")) +
                set_text("Zip", "ZIP file", path("tree"), path("backups/zip")));
    ASSERT_TRUE(start_service()) << service_output();
    ASSERT_EQ(run_set("Saf").code, PIPE_BACKUP_COMPLETED) << log_text();
    ASSERT_EQ(run_set("Zip").code, PIPE_BACKUP_COMPLETED) << log_text();
    test::Tree saved = test::snapshot(path("backups"));
    test::Tree first = test::snapshot(path("tree"));

    const std::string big = write_file("tree/big.bin", test::random_text(2 << 20, 2));
    CollectingClient logs(CollectingClient::Asks::Subscribe);
    ASSERT_TRUE(logs.connected());
    EXPECT_EQ(run_set("Saf").code, PIPE_BACKUP_COMPLETED) << log_text();
    EXPECT_TRUE(logs.wait_for(
        [&](const PipeRecord& r) {
            return r.text.find("Couldn't SAF file " + big + ": Write failed on SAF file") == 0;
        },
        0, 1s))
        << log_text();
    PipeRecord failed = run_set("Zip");
    EXPECT_EQ(failed.code, PIPE_BACKUP_FAILED) << log_text();
    EXPECT_NE(failed.text.find("B1_2.ZIP"), std::string::npos) << failed.text;
    EXPECT_TRUE(answers());

    test::Tree now = test::snapshot(path("backups"));
    for (const char* kept : {"saf/B1_1.SAF", "zip/B1_1.ZIP", "zip/BACKUP.INI"})
        EXPECT_TRUE(now.count(kept) && now[kept] == saved[kept]) << kept;
    EXPECT_FALSE(now.count("zip/B1_2.ZIP") || now.count("zip/L1_2.TXT"));
    for (const char* set : {"Saf", "Zip"}) {
        std::string to = std::string("out-") + set;
        test::ChildResult r = extract(set, path("tree") + "/", to);
        EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
        EXPECT_EQ(test::tree_difference(first, test::snapshot(path(to)), false), "") << set;
    }
    fs::remove(big);
    EXPECT_EQ(run_set("Zip").code, PIPE_BACKUP_COMPLETED) << log_text();
    EXPECT_TRUE(fs::exists(path("backups/zip/B1_2.ZIP")));
}

}  // namespace
}  // namespace vardel
