// The suite as a person uses it, from installation to removal: two sets
// imported from a set file and a password set from a shell, a scheduled
// backup starting by itself after its warning, manual runs, pause, resume
// and stop, the notices as `vardelctl follow` and the tray show them, the
// latest and an earlier state restored, and the suite removed again with
// the backups left where they are.
#include <sys/stat.h>
#include <time.h>

#include <filesystem>

#include "pipeclient/control_client.h"
#include "tests/e2e/suite.h"
#include "tests/support/running_service.h"
#include "tests/support/test_data.h"
#include "vardelnotify/tray_notices.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::CollectingClient;

class Roads : public test::SuiteTest {
  protected:
    // Waits for the record on the client; fails the test otherwise.
    void expect_record(CollectingClient& c, uint32_t code, const std::string& text) {
        ASSERT_TRUE(c.wait_for(code, text, seen_, 90s)) << code << " " << text << "\n"
                                                        << log_text();
        seen_ = *c.wait_for(code, text, seen_, 1s) + 1;
    }
    std::string ctl(const std::vector<std::string>& args) {
        test::ChildResult r = run("vardelctl", args);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return r.out;
    }
    test::ChildResult restore(const std::string& set, std::vector<std::string> args) {
        std::vector<std::string> all{"--extract", "--set",  set,
                                     "--latest",  "--base", path("docs") + "/"};
        all.insert(all.end(), args.begin(), args.end());
        return run("vardelrestore", all, "Correct horse 9\n");
    }
    size_t seen_ = 0;
};

TEST_F(Roads, InstallScheduleWatchControlRestoreAndRemove) {
    // What the person keeps: documents with private and executable files.
    write_file("docs/letters/bank.txt", "Dear bank,\n");
    write_file("docs/notes/long.txt", test::prose(200000));
    write_file("docs/photo.jpg", test::random_text(400000, 3));
    write_file("docs/bin/tidy.sh", "#!/bin/sh\necho tidy\n");
    ::chmod(path("docs/bin/tidy.sh").c_str(), 0750);
    ::chmod(path("docs/letters/bank.txt").c_str(), 0600);

    ASSERT_TRUE(start_service()) << service_output();
    auto follow = start("vardelctl", {"follow", "--timeout", "300"}, path("follow.txt"));
    CollectingClient tray(CollectingClient::Asks::Register);
    ASSERT_TRUE(tray.connected());

    test::ChildResult r =
        run("vardelcfg", {"--set-password", "encoding", "--stdin"}, "Correct horse 9\n");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // Daily, 25 seconds from now: the 20-second warning comes first.
    time_t now = ::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    int start_time = (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec + 25) % 86400;
    import_sets(
        "; two sets of one person\n"
        "[Daily Docs]\n"
        "BackupType=Incremental\nBackupsPerCycle=5\nBackuDestinationType=Directory\n"
        "BackupDestination=\"" +
        path("backups/docs") +
        "\"\n"
        "IntervalType=Daily\nStartTime=" +
        std::to_string(start_time) +
        "\n"
        "BackupDirs=\"" +
        path("docs") +
        "\"\nSaveFormat=SAF Archive\n"
        "TrackDeletedFiles=Y\nSavePathInfo=Y\nPasswordEncode=Y\n"
        "[Photos]\n"
        "IntervalType=On Demand\nBackuDestinationType=Directory\n"
        "BackupDestination=\"" +
        path("backups/photos") +
        "\"\n"
        "BackupDirs=\"" +
        path("docs") + "\"\nSaveFormat=ZIP file\nSavePathInfo=Y\n");

    expect_record(tray, PIPE_INFO, "Backup 'Daily Docs' starts in 20 seconds");
    expect_record(tray, PIPE_BACKUP_STARTING, "Daily Docs");
    expect_record(tray, PIPE_BACKUP_COMPLETED, "Daily Docs");
    test::Tree first = test::snapshot(path("docs"));

    // A manual run, held by a pause and let go.
    ::sleep(1);  // a change in the second of a backup's start counts for both
    write_file("docs/letters/bank.txt", "Dear bank, again\n");
    write_file("docs/letters/new.txt", "new\n");
    EXPECT_EQ(ctl({"pause"}), "18\tNext backup will pause\n");
    r = run("vardelgo", {"daily", "docs"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    expect_record(tray, PIPE_BACKUP_STARTING, "Daily Docs");
    std::vector<std::string> status = test::lines(ctl({"status", "--raw"}));
    ASSERT_EQ(status.size(), 10u);
    EXPECT_EQ(status[8], "Daily Docs");
    EXPECT_EQ(ctl({"resume"}), "17\tResuming backup Daily Docs\n");
    expect_record(tray, PIPE_BACKUP_COMPLETED, "Daily Docs");

    // A third backup, then one stopped: it leaves nothing behind.
    ::sleep(1);
    fs::remove(path("docs/photo.jpg"));
    write_file("docs/notes/long.txt", test::prose(150000, 9));
    ctl({"run", "Daily Docs"});
    expect_record(tray, PIPE_BACKUP_COMPLETED, "Daily Docs");
    test::Tree latest = test::snapshot(path("docs"));
    ctl({"pause"});
    write_file("docs/letters/later.txt", "after the last backup\n");
    ctl({"run", "Daily Docs"});
    expect_record(tray, PIPE_BACKUP_STARTING, "Daily Docs");
    EXPECT_EQ(ctl({"stop"}), "18\tAborting backup Daily Docs\n");
    expect_record(tray, PIPE_BACKUP_ABORTED, "Daily Docs");
    EXPECT_FALSE(fs::exists(path("backups/docs/B1_4.SAF")));

    // The ZIP set, by the tray's own request path.
    ControlClient::send_once(PIPE_RUN_SET, "photos");
    expect_record(tray, PIPE_BACKUP_COMPLETED, "Photos");
    test::Tree photos = test::snapshot(path("docs"));

    EXPECT_EQ(shut_down(), 0);
    EXPECT_EQ(follow->wait(10s), 0);

    // Restores: the latest state and the first, byte for byte with their
    // times; the ZIP set with its permission bits too (a SAF entry keeps only
    // the read-only attribute, so its files come back 0644 or 0444).
    r = restore("Daily Docs", {"--password-stdin", "--to", path("out/latest")});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Copy completed\n");
    EXPECT_EQ(test::tree_difference(latest, test::snapshot(path("out/latest")), false), "");
    r = restore("Daily Docs", {"--password-stdin", "--save", "1", "--to", path("out/first")});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(test::tree_difference(first, test::snapshot(path("out/first")), false), "");
    r = restore("Photos", {"--to", path("out/photos")});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(test::tree_difference(photos, test::snapshot(path("out/photos"))), "");

    // What the person saw: the notices as followed and as the tray shows them.
    std::string followed = read_file(path("follow.txt"));
    for (const char* line :
         {"17\tBackup 'Daily Docs' starts in 20 seconds\n", "13\tDaily Docs\n", "14\tDaily Docs\n",
          "16\tDaily Docs\n", "14\tPhotos\n", "18\tService connection broken!\n"})
        EXPECT_NE(followed.find(line), std::string::npos) << line << followed;
    std::vector<std::string> balloons;
    for (const PipeRecord& rec : tray.records())
        if (std::optional<Notice> n = notice_for(rec)) balloons.push_back(n->text);
    for (const char* text : {"Backup 'Daily Docs' starts in 20 seconds",
                             "Backup 'Daily Docs' starting", "Backup 'Daily Docs' completed",
                             "Backup 'Photos' completed", "Service connection broken!"})
        EXPECT_NE(std::find(balloons.begin(), balloons.end(), text), balloons.end()) << text;

    // Removal takes the suite and its settings, never the backups.
    r = run("vardelremove", {"--unattended", "--now", "--root", install().sys()});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_FALSE(fs::exists(install().prefix()));
    EXPECT_FALSE(fs::exists(install().data()));
    for (const char* kept : {"backups/docs/B1_1.SAF", "backups/docs/B1_3.SAF",
                             "backups/docs/BACKUP.INI", "backups/photos/B1_1.ZIP"})
        EXPECT_TRUE(fs::exists(path(kept))) << kept;
}

}  // namespace
}  // namespace vardel
