// The service killed outright (SIGKILL) in the middle of a backup, at many
// points of the run, for each format. Each point is reached from the run's
// own progress: the archive appearing, or the n-th file's "Save" line read
// from the service's log subscription. After every kill: "BACKUP.INI" is
// whole and records only the backups that completed, the set lists and its
// newest backup restores, the service starts again and its next run of the
// set completes. At the end every backup restores to the state it saved.
#include <filesystem>

#include "common/destination_names.h"
#include "common/ini_document.h"
#include "common/setting_names.h"
#include "pipeclient/control_client.h"
#include "tests/e2e/suite.h"
#include "tests/support/running_service.h"
#include "tests/support/test_data.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::CollectingClient;

constexpr int kFiles = 48;

class KillMidRun : public test::SuiteTest, public ::testing::WithParamInterface<int> {
  protected:
    std::string dest() const { return path("backups"); }
    const char* format_name() const {
        return GetParam() == SAVE_SAF   ? "SAF Archive"
               : GetParam() == SAVE_ZIP ? "ZIP file"
                                        : "Discrete files";
    }
    std::string output_name(int n) const {
        switch (GetParam()) {
            case SAVE_SAF:
                return destination::saf_archive(1, n);
            case SAVE_ZIP:
                return destination::zip_archive(1, n);
            default:
                return destination::files_folder(1, n);
        }
    }
    // Rewrites a few files so each backup's state differs from the last.
    void change_tree(int round) {
        for (int i = round % 6; i < kFiles; i += 6)
            write_file("tree/d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".dat",
                       i % 3 ? test::prose(20000 + i * 500, round * 100 + i)
                             : test::random_text(60000, round * 100 + i));
    }
    // BACKUP.INI reads whole and records backups 1..completed and no other.
    void expect_state(int completed) {
        IniDocument ini;
        ASSERT_TRUE(ini.load(dest() + "/BACKUP.INI"));
        namespace d = destination;
        EXPECT_EQ(ini.get_number(d::kSection, d::kSequence), completed);
        for (int n = 1; n <= completed + 1; ++n)
            EXPECT_EQ(!ini.get_text(d::kSection, d::instance_key(1, n)).empty(), n <= completed)
                << "backup " << n;
    }
    void expect_restores(int save, const test::Tree& want, const std::string& to) {
        test::ChildResult r =
            run("vardelrestore", {"--extract", "--set", "Kill", "--save", std::to_string(save),
                                  "--latest", "--base", path("tree") + "/", "--to", path(to)});
        ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
        EXPECT_EQ(test::tree_difference(want, test::snapshot(path(to)), GetParam() != SAVE_SAF), "")
            << "backup " << save;
    }
    // One complete run by request; its state is kept for the restores.
    void complete_run() {
        CollectingClient c(CollectingClient::Asks::Register);
        ASSERT_TRUE(c.connected());
        ASSERT_TRUE(c.send(PIPE_RUN_SET, "Kill"));
        ASSERT_TRUE(c.wait_for(PIPE_BACKUP_COMPLETED, "Kill", 0, 120s)) << log_text();
        states_.push_back(test::snapshot(path("tree")));
    }
    std::vector<test::Tree> states_;
};

TEST_P(KillMidRun, EveryKillLeavesTheEarlierBackupsWholeAndTheNextRunWorks) {
    change_tree(0);
    for (int round = 1; round < 6; ++round) change_tree(round);
    import_sets(
        "[Kill]\nIntervalType=On Demand\nBackupType=Full\nBackupsPerCycle=20\n"
        "BackuDestinationType=Directory\nBackupDestination=\"" +
        dest() +
        "\"\n"
        "BackupDirs=\"" +
        path("tree") + "\"\nSavePathInfo=Y\nSaveFormat=" + format_name() + "\n");
    ASSERT_TRUE(start_service()) << service_output();
    complete_run();
    ASSERT_TRUE(fs::exists(dest() + "/" + output_name(1)));

    // 0: as soon as the backup's output appears; n: after the n-th file's
    // Save line; kFiles: after the last one, while the run closes.
    const std::vector<int> points{0, 1, 12, 24, 36, 47, kFiles};
    int ended_before_kill = 0;
    for (size_t trial = 0; trial < points.size(); ++trial) {
        SCOPED_TRACE("kill point " + std::to_string(points[trial]));
        const int completed = static_cast<int>(states_.size());
        change_tree(static_cast<int>(trial));
        {
            CollectingClient c(CollectingClient::Asks::Subscribe);
            ASSERT_TRUE(c.connected());
            ASSERT_TRUE(c.send(PIPE_RUN_SET, "Kill"));
            const std::string out = dest() + "/" + output_name(completed + 1);
            if (points[trial] == 0) {
                ASSERT_TRUE(test::wait_until([&] { return fs::exists(out); }, 60s));
            } else {
                int saves = 0;
                ASSERT_TRUE(c.wait_for(
                    [&](const PipeRecord& r) {
                        return r.text.rfind("Save ", 0) == 0 && ++saves == points[trial];
                    },
                    0, 60s))
                    << saves << " saves seen";
            }
            kill_service();
        }
        // A run quick enough may have ended between its last sign and the
        // kill: then it counts as complete, and must be recorded as one.
        IniDocument ini;
        ASSERT_TRUE(ini.load(dest() + "/BACKUP.INI"));
        if (ini.get_number(destination::kSection, destination::kSequence) == completed + 1) {
            states_.push_back(test::snapshot(path("tree")));
            ++ended_before_kill;
        }
        expect_state(static_cast<int>(states_.size()));
        // The newest complete backup lists and restores while the torn one lies there.
        test::ChildResult l = list({"--set", "Kill"});
        EXPECT_EQ(l.exit_code, 0) << l.err;
        expect_restores(static_cast<int>(states_.size()), states_.back(),
                        "after-kill-" + std::to_string(trial));

        ASSERT_TRUE(start_service()) << service_output();
        complete_run();
        expect_state(static_cast<int>(states_.size()));
    }
    std::printf("%s: %zu kills, %d of them mid-run\n", format_name(), points.size(),
                static_cast<int>(points.size()) - ended_before_kill);
    EXPECT_EQ(shut_down(), 0);
    for (size_t i = 0; i < states_.size(); ++i)
        expect_restores(static_cast<int>(i) + 1, states_[i], "final-" + std::to_string(i));
}

INSTANTIATE_TEST_SUITE_P(Formats, KillMidRun, ::testing::Values(SAVE_SAF, SAVE_ZIP, SAVE_DISCRETE),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SAVE_SAF   ? "SAF"
                                                : info.param == SAVE_ZIP ? "ZIP"
                                                                         : "Discrete");
                         });

}  // namespace
}  // namespace vardel
