// vardelwatch against a real service: the panel's texts and the pane.
#include <gtest/gtest.h>
#include <QCoreApplication>

#include "common/backup_set.h"
#include "common/local_clock.h"
#include "common/pipe_record.h"
#include "gui/log_pane.h"
#include "gui/service_link.h"
#include "pipeclient/control_client.h"
#include "tests/support/running_service.h"
#include "tests/support/x_display.h"
#include "vardelwatch/ui/watch_window.h"
#include "vardelwatch/watch_state.h"

namespace vardel {
namespace {

using namespace std::chrono_literals;

class Vardelwatch : public test::ServiceTest {
  protected:
    bool pump_until(const std::function<bool()>& cond) {
        return test::wait_until(
            [&] {
                QCoreApplication::processEvents();
                return cond();
            },
            30s);
    }
    static std::string pane_text(const WatchWindow& w) {
        return w.pane()->toPlainText().toStdString();
    }
};

TEST_F(Vardelwatch, FollowsARunAndTheServiceGoingAway) {
    add_set("Nightly", 3);
    BackupSet s;
    s.load("Nightly");
    s.Enabled = true;
    s.IntervalType = INTERVAL_DAILY;
    // Twelve hours from now: never due while the test runs.
    s.StartTime = static_cast<int32_t>((LocalClock().local_now() + 12 * 3600) % 86400);
    s.save();

    {
        WatchWindow alone;
        alone.connect_to_service();
        EXPECT_EQ(alone.state().display(), WatchState::Display::NoService);
        EXPECT_STREQ(alone.state().waiting_text(), "No Service Available");
        EXPECT_EQ(pane_text(alone), "");
    }

    ASSERT_TRUE(start_service()) << service_output();
    WatchWindow w;
    std::string during_run;
    QObject::connect(w.pane(), &QPlainTextEdit::textChanged, [&] {
        if (during_run.empty() && pane_text(w).find("backup Nightly starting") != std::string::npos)
            during_run = w.state().progress_text();
    });
    w.connect_to_service();
    ASSERT_TRUE(
        pump_until([&] { return w.state().display() == WatchState::Display::StatusKnown; }));
    EXPECT_STREQ(w.state().enabled_text(), "Enabled");
    EXPECT_EQ(w.state().progress_text(), "Idle");
    const std::string next = w.state().next_run_text();
    EXPECT_EQ(next.rfind("Next backup: 'Nightly' at  ", 0), 0u) << next;

    // The service takes one connection's requests in order: a second status
    // answer, asked for behind the handshake, says it has all three.
    int statuses = 1;
    QObject::connect(w.link(), &gui::ServiceLink::received,
                     [&](const PipeRecord& r) { statuses += r.code == PIPE_STATUS; });
    w.link()->send_in_turn({PIPE_SINGLE_STATUS});
    ASSERT_TRUE(pump_until([&] { return statuses == 2; }));
    ControlClient::send_once(PIPE_RUN_SET, "Nightly");
    ASSERT_TRUE(pump_until([&] {
        return pane_text(w).find("backup Nightly complete\n") != std::string::npos &&
               !w.state().next_run_text().empty();
    })) << pane_text(w);
    EXPECT_EQ(during_run, "Backup In Progress -- Nightly");
    EXPECT_EQ(w.state().progress_text(), "Idle");
    EXPECT_EQ(w.state().next_run_text().rfind("Next backup: 'Nightly' at  ", 0), 0u);
    EXPECT_NE(pane_text(w).find("Backup Nightly completed"), std::string::npos) << pane_text(w);

    EXPECT_EQ(shut_down(), 0);
    ASSERT_TRUE(pump_until([&] {
        std::string t = pane_text(w);
        return t.size() >= 30 && t.substr(t.size() - 30) == "Connection to service severed\n";
    })) << pane_text(w);
    EXPECT_EQ(w.state().display(), WatchState::Display::StatusKnown);
}

// A run that fails or is aborted ends too: the panel must not go on
// showing it in progress. Notices without a line end get one in the pane.
TEST(WatchState, EveryEndOfARunAsksForTheStatusAgain) {
    WatchState s;
    s.on_record(
        PIPE_STATUS,
        "1\r\nVardel Pellin\r\n1.1\r\npc\r\n\r\n\r\n0\r\n0\r\n<none>\r\nNo backups scheduled");
    EXPECT_STREQ(s.enabled_text(), "Disabled");
    EXPECT_EQ(s.next_run_text(), "No backups scheduled");
    for (uint32_t end : {PIPE_BACKUP_FAILED, PIPE_BACKUP_ABORTED, PIPE_BACKUP_COMPLETED}) {
        EXPECT_EQ(s.on_record(PIPE_BACKUP_STARTING, "Nightly").pane_text,
                  "backup Nightly starting\n");
        EXPECT_EQ(s.progress_text(), "Backup In Progress -- Nightly");
        EXPECT_EQ(s.next_run_text(), "");
        WatchState::Reaction r = s.on_record(end, "Nightly");
        EXPECT_TRUE(r.ask_status);
        EXPECT_EQ(s.progress_text(), "Idle");
    }
    EXPECT_EQ(s.on_record(PIPE_INFO, "Backup 'Nightly' starts in 20 seconds").pane_text,
              "Backup 'Nightly' starts in 20 seconds\n");
    EXPECT_EQ(s.on_record(PIPE_ALERT, "ALERT     x\r\n").pane_text, "ALERT     x\r\n");
    EXPECT_FALSE(s.on_record(9, "x").repaint);
}

TEST(VardelwatchProgram, ShowsItsWindowWithoutAServiceAndCloses) {
    std::string root = test::make_temp_dir();
    EXPECT_EQ(test::XDisplay().show_and_close({test::program_path("vardelwatch")},
                                              "Backup Service Status", {"VARDEL_ROOT=" + root}),
              "");
    test::remove_tree(root);
}

}  // namespace
}  // namespace vardel
