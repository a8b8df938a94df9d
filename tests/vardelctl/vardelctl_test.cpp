// vardelctl as a user runs it, against a real service.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <sstream>

#include "common/backup_set.h"
#include "common/general_settings.h"
#include "platform/file.h"
#include "tests/support/running_service.h"
#include "vardelctl/ctl_tool.h"

namespace vardel {
namespace {

using namespace std::chrono_literals;
using test::CollectingClient;

class Vardelctl : public test::ServiceTest {
  protected:
    test::ChildResult ctl(std::vector<std::string> args) {
        args.insert(args.begin(), test::program_path("vardelctl"));
        return test::run_program(args);
    }
    std::vector<std::string> out_lines(const std::string& out) {
        std::vector<std::string> v;
        std::istringstream in(out);
        for (std::string l; std::getline(in, l);) v.push_back(l);
        return v;
    }
};

TEST_F(Vardelctl, WithoutAServiceEveryRequestSaysSoAndFails) {
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"status"}, {"run", "Nightly Set"}, {"pause"}, {"stop"}, {"shutdown"}, {"follow"}}) {
        test::ChildResult r = ctl(args);
        EXPECT_EQ(r.exit_code, 1) << args[0];
        EXPECT_EQ(r.err, "Couldn't open connection to service\n") << args[0];
        EXPECT_EQ(r.out, "") << args[0];
    }
    EXPECT_EQ(ctl({"--version"}).out, std::string("vardelctl ") + VARDEL_VERSION + "\n");
    EXPECT_EQ(ctl({"--help"}).exit_code, 0);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate"},
                                               {"run"},
                                               {"status", "extra"},
                                               {"follow", "--count", "0"},
                                               {"follow", "--timeout", "soon"},
                                               {"follow", "--until", "14,"}})
        EXPECT_EQ(ctl(args).exit_code, 2);
}

TEST_F(Vardelctl, StatusAndTheAnswersOfPauseResumeAndStop) {
    add_set("Nightly Set");
    ASSERT_TRUE(start_service()) << service_output();
    test::ChildResult r = ctl({"status", "--raw"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> lines = out_lines(r.out);
    ASSERT_EQ(lines.size(), 10u) << r.out;
    EXPECT_EQ(lines[1], "Vardel Pellin");
    EXPECT_EQ(lines[8], "<none>");
    EXPECT_EQ(lines[9], "No backups scheduled");
    lines = out_lines(ctl({"status"}).out);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Service: Vardel Pellin 1.1");
    EXPECT_EQ(lines[2], "Enabled: yes");
    EXPECT_EQ(lines[3], "Running: no");
    EXPECT_EQ(lines[4], "No backups scheduled");

    EXPECT_EQ(ctl({"pause"}).out, "18\tNext backup will pause\n");
    EXPECT_EQ(ctl({"resume"}).out, "17\tNext backup will proceed as scheduled\n");
    EXPECT_EQ(ctl({"stop"}).out, "18\tNo backup in progress\n");

    // While a (paused) backup runs the tenth line is empty and still printed.
    ctl({"pause"});
    CollectingClient follower(CollectingClient::Asks::Register);
    EXPECT_EQ(ctl({"run", "NIGHTLY SET"}).exit_code, 0);
    ASSERT_TRUE(follower.wait_for(PIPE_BACKUP_STARTING, "Nightly Set"));
    r = ctl({"status", "--raw"});
    lines = out_lines(r.out);
    ASSERT_EQ(lines.size(), 10u) << r.out;
    EXPECT_EQ(lines[7], "1");
    EXPECT_EQ(lines[8], "Nightly Set");
    EXPECT_EQ(lines[9], "");
    lines = out_lines(ctl({"status"}).out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3], "Running: Nightly Set");
    EXPECT_EQ(ctl({"stop"}).out, "18\tAborting backup Nightly Set\n");
    EXPECT_TRUE(follower.wait_for(PIPE_BACKUP_ABORTED, "Nightly Set"));
}

TEST_F(Vardelctl, FollowPrintsNoticesAndLogLinesUntilTheRunEnds) {
    add_set("Nightly Set", 3);
    ASSERT_TRUE(start_service()) << service_output();
    CollectingClient watcher(CollectingClient::Asks::Subscribe);
    test::BackgroundProcess follow(
        {test::program_path("vardelctl"), "follow", "--until", "14,15,16", "--timeout", "60"}, {},
        path("follow.out"));
    // Subscribed once the service has logged taking its second request.
    ASSERT_TRUE(watcher.wait_for(
        [](const PipeRecord& r) { return r.text.rfind("Request Ongoing, slot", 0) == 0; }));
    EXPECT_EQ(ctl({"run", "Nightly Set"}).exit_code, 0);
    EXPECT_EQ(follow.wait(60s), 0);
    std::vector<std::string> lines = out_lines(read_file(path("follow.out")));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "14\tNightly Set");
    auto has = [&](const std::string& l) {
        return std::find(lines.begin(), lines.end(), l) != lines.end();
    };
    EXPECT_TRUE(has("13\tNightly Set"));
    EXPECT_TRUE(has("17\tStart backup set 'Nightly Set'"));
    size_t saves = 0;
    for (const std::string& l : lines) saves += l.rfind("17\tSave ", 0) == 0;
    EXPECT_EQ(saves, 3u);

    // --timeout ends it when nothing comes; with --until, that is a failure.
    EXPECT_EQ(ctl({"follow", "--timeout", "0.2"}).exit_code, 0);
    EXPECT_EQ(ctl({"follow", "--timeout", "0.2", "--until", "14"}).exit_code, 1);
}

TEST_F(Vardelctl, FollowCountsRecordsAndEndsWithTheService) {
    add_set("Nightly Set", 1);
    ASSERT_TRUE(start_service()) << service_output();
    CollectingClient watcher(CollectingClient::Asks::Subscribe);
    test::BackgroundProcess counted({test::program_path("vardelctl"), "follow", "--count", "2"}, {},
                                    path("counted.out"));
    test::BackgroundProcess endless({test::program_path("vardelctl"), "follow"}, {},
                                    path("endless.out"));
    // Both have subscribed when their requests have been logged.
    ASSERT_TRUE(test::wait_until([&] {
        size_t n = 0;
        for (const PipeRecord& r : watcher.records())
            n += r.text.rfind("Request Ongoing, slot", 0) == 0;
        return n == 2;
    }));
    ctl({"stop"});
    ctl({"stop"});
    EXPECT_EQ(counted.wait(20s), 0);
    EXPECT_EQ(out_lines(read_file(path("counted.out"))).size(), 2u);

    EXPECT_EQ(ctl({"shutdown"}).exit_code, 0);
    EXPECT_EQ(endless.wait(20s), 0);
    std::vector<std::string> lines = out_lines(read_file(path("endless.out")));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "18\tService connection broken!");
    EXPECT_TRUE(test::wait_until([&] { return !service_running(); }));
}

// A run waiting 60 seconds for a file another program keeps locked: a stop
// ends the wait at once, the run ends aborted, and the service carries on.
TEST_F(Vardelctl, StopEndsARunWaitingForALockedFileAndTheServiceCarriesOn) {
    add_set("Locked", 1);
    GeneralSettings g;
    g.load();
    g.WaitForLock = 60;  // with the default Wait handling and exclusive locks
    g.save();
    platform::File held;
    ASSERT_TRUE(held.open(path("sets/Locked/src/d0/f0.txt"), platform::OpenMode::Read));
    ASSERT_TRUE(held.lock_exclusive());
    ASSERT_TRUE(start_service()) << service_output();
    CollectingClient follower(CollectingClient::Asks::Both);
    ASSERT_TRUE(follower.connected());

    EXPECT_EQ(ctl({"run", "Locked"}).exit_code, 0);
    ASSERT_TRUE(
        follower.wait_for([](const PipeRecord& r) { return r.text.rfind("Save ", 0) == 0; }));
    EXPECT_EQ(ctl({"stop"}).exit_code, 0);
    // Far below the wait of 60 s, and below the 5 s after which a stop
    // would end the whole process.
    EXPECT_TRUE(follower.wait_for(PIPE_BACKUP_ABORTED, "Locked", 0, 3s)) << service_output();
    EXPECT_TRUE(service_running());
    test::ChildResult status = ctl({"status"});
    EXPECT_EQ(status.exit_code, 0);
    EXPECT_NE(status.out.find("\nRunning: no\n"), std::string::npos) << status.out;
}

TEST_F(Vardelctl, DisableAndEnableShowInTheStatus) {
    ASSERT_TRUE(start_service()) << service_output();
    CollectingClient follower(CollectingClient::Asks::Subscribe);
    EXPECT_EQ(ctl({"disable"}).exit_code, 0);
    EXPECT_EQ(out_lines(ctl({"status"}).out).at(2), "Enabled: no");
    EXPECT_EQ(ctl({"disable"}).exit_code, 0);
    EXPECT_TRUE(follower.wait_for(PIPE_ALERT, "Service already disabled\r\n"));
    EXPECT_EQ(ctl({"enable"}).exit_code, 0);
    EXPECT_EQ(out_lines(ctl({"status", "--raw"}).out).at(6), "1");
    EXPECT_TRUE(follower.wait_for(PIPE_INFO, "Enable service\r\n"));
}

// A name no set has would be dropped by the service without a word; a
// reload makes an edit made with vardelreg count without a restart.
TEST_F(Vardelctl, AnUnknownSetIsRefusedAndReloadPicksUpAnEdit) {
    add_set("Nightly Set");
    ASSERT_TRUE(start_service()) << service_output();
    test::ChildResult r = ctl({"run", "Nightlyy"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Specified backup name (Nightlyy) not found\n");

    add_set("Weekly");
    BackupSet weekly;
    weekly.load("Weekly");
    weekly.IntervalType = INTERVAL_DAILY;
    weekly.Enabled = true;
    // An hour ago: due tomorrow, never during the test.
    time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    weekly.StartTime = ((local.tm_hour + 23) % 24) * 3600;
    weekly.save();
    EXPECT_EQ(ctl({"reload"}).exit_code, 0);
    EXPECT_TRUE(test::wait_until([&] {
        return ctl({"status"}).out.find("Next backup: 'Weekly' at ") != std::string::npos;
    })) << ctl({"status"}).out;
}

// Any account may read the status; only root, the service's own account and
// the group vardel may change what the service does.
TEST_F(Vardelctl, AnOrdinaryAccountReadsButMayNotControl) {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || !nobody || !std::filesystem::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "needs root, the account nobody and setpriv to run as another user";
    add_set("Nightly Set");
    ASSERT_TRUE(start_service()) << service_output();
    ::chmod(scratch().c_str(), 0755);
    auto as_nobody = [&](const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"/usr/bin/setpriv",
                                         "--reuid=" + std::to_string(nobody->pw_uid),
                                         "--regid=" + std::to_string(nobody->pw_gid),
                                         "--clear-groups", test::program_path("vardelctl")};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::run_program(argv);
    };
    test::ChildResult status = as_nobody({"status"});
    EXPECT_EQ(status.exit_code, 0) << status.err;
    EXPECT_NE(status.out.find("Enabled: yes"), std::string::npos) << status.out;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"disable"}, {"stop"}, {"run", "Nightly Set"}, {"shutdown"}}) {
        test::ChildResult r = as_nobody(args);
        EXPECT_EQ(r.exit_code, 1) << args[0];
        EXPECT_EQ(r.err, "Permission denied\n") << args[0];
    }
    EXPECT_TRUE(service_running());
    EXPECT_NE(ctl({"status"}).out.find("Enabled: yes"), std::string::npos);
    EXPECT_EQ(ctl({"disable"}).exit_code, 0);
    EXPECT_NE(ctl({"status"}).out.find("Enabled: no"), std::string::npos);
}

TEST(CtlToolLines, ARecordIsOneLineWithoutItsLineEnd) {
    EXPECT_EQ(CtlTool::record_line({PIPE_INFO, "Save /a b\r\n"}), "17\tSave /a b");
    EXPECT_EQ(CtlTool::record_line({PIPE_BACKUP_FAILED, "first\r\nsecond\nthird\r\n"}),
              "15\tfirst\\nsecond\\nthird");
    EXPECT_EQ(CtlTool::record_line({PIPE_ALERT, ""}), "18\t");
    EXPECT_EQ(CtlTool::status_lines("1\r\n2\r\n"), "1\n2\n\n");
}

}  // namespace
}  // namespace vardel
