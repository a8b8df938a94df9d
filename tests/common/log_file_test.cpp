#include "common/log_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "common/fault_translation.h"
#include "platform/file_info.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

#include "tests/support/set_clock.h"

namespace vardel {
namespace {

using test::SetClock;

// The product key's "CurrentCycle" and the settings, as the service keeps them.
class TestHost : public LogFileHost {
  public:
    LogFileSettings log_settings() override { return settings; }
    bool read_current_cycle(int64_t& c) override {
        if (!key_opens) return false;
        c = cycle;
        return true;
    }
    bool write_current_cycle(int64_t c) override {
        cycle = c;
        return true;
    }
    bool mail_log(const std::string& to, const std::string& body, std::string& error) override {
        mailed_to = to;
        mailed_body = body;
        error = "mail refused";
        return mail_ok;
    }
    void log_cycled() override { ++cycled; }

    LogFileSettings settings;
    int64_t cycle = 0;
    bool key_opens = true;
    bool mail_ok = true;
    std::string mailed_to, mailed_body;
    int cycled = 0;
};

class LogFileTest : public test::ScratchTest {
  protected:
    void SetUp() override {
        ScratchTest::SetUp();
        host.settings.log_file_path = path("logs");
        clock.t = std::time(nullptr);
        file = std::make_unique<LogFile>(host, clock);
        Logger::instance().add_sink(file.get(), SinkOrder::LogFile);
    }
    void TearDown() override {
        Logger::instance().remove_sink(file.get());
        file.reset();
        ScratchTest::TearDown();
    }
    std::string log_n(int n) { return read_file(path("logs/LOG_" + std::to_string(n) + ".txt")); }
    void cycle_and_wait() {
        file->cycle();
        ASSERT_TRUE(file->wait_for_mailing(std::chrono::seconds(10)));
    }

    TestHost host;
    SetClock clock;
    std::unique_ptr<LogFile> file;
};

TEST_F(LogFileTest, LinesStartWithTheLevelNameAndFoldersAreCreated) {
    log(LOG_INFO, "Vardeld started %s\r\n", " Mon Jan 06 2025 10:00:00");
    log(LOG_PROGRESS, "a\nb\n");
    EXPECT_EQ(log_n(0),
              "INFO      Vardeld started  Mon Jan 06 2025 10:00:00\r\n"
              "PROGRESS  a\r\nb\r\n");
}

TEST_F(LogFileTest, ThreeLogsRotateAndEachNewTurnStartsEmpty) {
    host.settings.keep_n_logs = 3;
    std::vector<int> used;
    for (int turn = 0; turn < 4; ++turn) {
        log(LOG_INFO, "turn %d\n", turn);
        used.push_back(static_cast<int>(host.cycle));
        cycle_and_wait();
    }
    EXPECT_EQ(used, (std::vector<int>{0, 1, 2, 0}));
    // LOG_0 was emptied when the fourth turn began: the first turn's line is gone.
    EXPECT_EQ(log_n(0).find("turn 0"), std::string::npos);
    EXPECT_NE(log_n(0).find("turn 3"), std::string::npos);
    EXPECT_NE(log_n(2).find("turn 2"), std::string::npos);
    EXPECT_EQ(log_n(1).rfind("DEBUG     Create new log", 0), 0u);  // the fourth cycle emptied it
    EXPECT_EQ(host.cycled, 4);
}

TEST_F(LogFileTest, ZeroOrOneLogStaysOnLogZeroAndEmptiesIt) {
    for (int keep : {0, 1}) {
        host.settings.keep_n_logs = keep;
        log(LOG_INFO, "before %d\n", keep);
        cycle_and_wait();
        EXPECT_EQ(host.cycle, 0);
        EXPECT_EQ(log_n(0).find("before"), std::string::npos) << keep;
        EXPECT_NE(log_n(0).find("Create new log"), std::string::npos);
    }
}

TEST_F(LogFileTest, TheSizeLimitIsPassedOnlyByMoreThanItsKilobytes) {
    host.settings.cycle_log_size = 1;
    host.settings.keep_n_logs = 3;
    // "DEBUG     " plus 1014 characters is exactly 1024 bytes.
    log(LOG_DEBUG, "%s", std::string(1014, 'x').c_str());
    file->check_after_run();
    EXPECT_EQ(host.cycle, 0);
    log(LOG_DEBUG, "y");
    file->check_after_run();
    ASSERT_TRUE(file->wait_for_mailing(std::chrono::seconds(10)));
    EXPECT_EQ(host.cycle, 1);
}

TEST_F(LogFileTest, TheAgeLimitIsPassedOnlyWhenOlderThanItsDays) {
    host.settings.cycle_log_days = 2;
    host.settings.keep_n_logs = 3;
    log(LOG_DEBUG, "x\n");
    platform::FileInfo fi;
    ASSERT_TRUE(platform::stat_path(file->log_path(), fi));
    int64_t created, ns;
    platform::unix_from_filetime(fi.times.creation, created, ns);
    clock.t = created + 2 * 86400;
    file->check_after_run();
    EXPECT_EQ(host.cycle, 0);
    clock.t += 1;
    file->check_after_run();
    ASSERT_TRUE(file->wait_for_mailing(std::chrono::seconds(10)));
    EXPECT_EQ(host.cycle, 1);
}

TEST_F(LogFileTest, AnOldLogIsMailedOnlyWhenAsked) {
    host.settings.keep_n_logs = 3;
    log(LOG_INFO, "first log\n");
    cycle_and_wait();
    EXPECT_TRUE(host.mailed_body.empty());
    EXPECT_NE(log_n(0).find("first log"), std::string::npos);  // kept

    host.settings.mail_old_log = true;
    host.settings.mail_log_email = "ops@example.org";
    log(LOG_INFO, "second log\n");
    cycle_and_wait();
    EXPECT_EQ(host.mailed_to, "ops@example.org");
    EXPECT_NE(host.mailed_body.find("second log"), std::string::npos);
    // The mailing thread's lines still go to the old file.
    EXPECT_NE(log_n(1).find("Log emailed"), std::string::npos);

    host.mail_ok = false;
    cycle_and_wait();
    EXPECT_NE(log_n(2).find("Can't mail log " + path("logs/LOG_2.txt") + ": mail refused"),
              std::string::npos);
}

TEST_F(LogFileTest, WithoutTheProductKeyLinesAreDroppedAndCyclingComplains) {
    host.key_opens = false;
    log(LOG_INFO, "lost\n");
    EXPECT_FALSE(std::filesystem::exists(path("logs")));
    file->cycle();
    EXPECT_EQ(host.cycled, 0);
}

// The editor's "Cycle Logs Now" moves "CurrentCycle" on and empties the
// next file; the service follows at its reload (which closes the file)
// rather than writing on in the old one.
TEST_F(LogFileTest, AfterACloseTheFileThatCurrentCycleNamesNowIsWritten) {
    log(LOG_INFO, "before\n");
    host.cycle = 1;  // as the editor leaves it
    log(LOG_INFO, "still open\n");
    file->close();
    log(LOG_INFO, "after\n");
    EXPECT_EQ(log_n(0), "INFO      before\r\nINFO      still open\r\n");
    EXPECT_EQ(log_n(1), "INFO      after\r\n");
    EXPECT_EQ(file->log_path(), path("logs/LOG_1.txt"));
}

// A host whose store fails logs why as it reads it, and that line comes back
// to the log file, which is still working out its name.
class FailingHost : public TestHost {
  public:
    bool read_current_cycle(int64_t& c) override {
        log(LOG_DEBUG, "Registry: the store is damaged\n");
        return TestHost::read_current_cycle(c);
    }
};

TEST_F(LogFileTest, ALineLoggedWhileTheStoreIsReadDoesNotComeRoundAgain) {
    FailingHost failing;
    failing.settings.log_file_path = path("other");
    LogFile other(failing, clock);
    Logger::instance().add_sink(&other, SinkOrder::LogFile);
    log(LOG_INFO, "one line\n");
    Logger::instance().remove_sink(&other);
    EXPECT_NE(read_file(path("other/LOG_0.txt")).find("INFO      one line\r\n"), std::string::npos);
}

TEST_F(LogFileTest, AProcessorFaultIsTheLastLineOfTheLog) {
    test::ChildResult r = test::run_in_child([] {
        install_fault_translation();
        log(LOG_INFO, "working\n");
        volatile int zero = 0;
        return 10 / zero;
    });
    EXPECT_NE(r.exit_code, 0);
    std::string log_text = log_n(0);
    EXPECT_NE(log_text.find("INFO      working\r\nERROR     WinMain error: -1073741676,Integer "
                            "division by zero\r\n"),
              std::string::npos)
        << log_text;
}

TEST_F(LogFileTest, LinesFromEightThreadsAreWholeInTheFile) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 300; ++i) log(LOG_DEBUG, "thread %d line %d ends here\n", t, i);
        });
    for (auto& th : threads) th.join();
    std::istringstream in(log_n(0));
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        int t, i;
        ASSERT_EQ(std::sscanf(line.c_str(), "DEBUG     thread %d line %d ends here\r", &t, &i), 2)
            << line;
        ++n;
    }
    EXPECT_EQ(n, 2400);
}

}  // namespace
}  // namespace vardel
