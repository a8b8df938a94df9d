// The tray's tables and rules without a window: what each record shows,
// what a left click does, when resting on the icon asks for the status,
// which sets a session starts, the first start's help, and the service
// manager's answers as the "Start Service" balloons.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/backup_set.h"
#include "common/general_settings.h"
#include "common/registry.h"
#include "common/setting_names.h"
#include "common/suite_names.h"
#include "tests/support/scratch.h"
#include "vardelnotify/hover_tracker.h"
#include "vardelnotify/service_start.h"
#include "vardelnotify/session_sets.h"
#include "vardelnotify/tray_menu.h"
#include "vardelnotify/tray_notices.h"

namespace vardel {
namespace {

Notice expect_notice(uint32_t code, const std::string& text) {
    std::optional<Notice> n = notice_for({code, text});
    EXPECT_TRUE(n) << code;
    return n.value_or(Notice{});
}

TEST(TrayNotices, EachRecordHasItsBalloon) {
    using I = NoticeIcon;
    EXPECT_EQ(expect_notice(PIPE_BACKUP_STARTING, "Nightly"),
              (Notice{"Vardel Service", "Backup 'Nightly' starting", I::Information, 5000, false}));
    EXPECT_EQ(
        expect_notice(PIPE_BACKUP_COMPLETED, "Nightly"),
        (Notice{"Vardel Service", "Backup 'Nightly' completed", I::Information, 5000, false}));
    EXPECT_EQ(expect_notice(PIPE_BACKUP_FAILED, "Backup Nightly failed: disk full"),
              (Notice{"Vardel Service Error", "Backup Nightly failed: disk full", I::Error, 30000,
                      true}));
    EXPECT_EQ(expect_notice(PIPE_INFO, "Backup 'Nightly' starts in 20 seconds"),
              (Notice{"Vardel Service", "Backup 'Nightly' starts in 20 seconds", I::Information,
                      5000, false}));
    EXPECT_EQ(
        expect_notice(PIPE_ALERT, "Service connection broken!"),
        (Notice{"Vardel Service Alert", "Service connection broken!", I::Warning, 15000, true}));
    // A name with a "%" is shown as it is, never taken for a format.
    EXPECT_EQ(expect_notice(PIPE_BACKUP_COMPLETED, "100%s done").text,
              "Backup '100%s done' completed");
    // Aborted, requests and unknown codes: nothing.
    for (uint32_t code : {16u, 0u, 1u, 2u, 8u, 12u, 19u, 4000u})
        EXPECT_FALSE(notice_for({code, "Nightly"})) << code;
}

TEST(TrayNotices, TheStatusSaysWhatRunsOrWhatComesNext) {
    Notice n = expect_notice(PIPE_STATUS,
                             "1\r\nVardel Pellin\r\n1.1\r\nhost\r\n\r\n\r\n1\r\n1\r\nNightly\r\n");
    EXPECT_EQ(n, (Notice{"Backup In Progress", "Backup 'Nightly' is active", NoticeIcon::Warning,
                         5000, false}));
    n = expect_notice(
        PIPE_STATUS,
        "1\r\nVardel Pellin\r\n1.1\r\nhost\r\n\r\n\r\n0\r\n0\r\n<none>\r\nNo backups scheduled");
    EXPECT_EQ(n, (Notice{"Vardel Status", "Service Disabled\nNo backups scheduled",
                         NoticeIcon::Information, 5000, false}));
    // A short or empty status (a service of another layout) still shows.
    EXPECT_EQ(expect_notice(PIPE_STATUS, "").text, "Service Disabled\n");
}

TEST(TrayCommands, ClickActionPicksTheProgramOrTheStatus) {
    EXPECT_EQ(click_command(0).program, "vardelcfg");
    EXPECT_EQ(click_command(1).program, "vardelagenda");
    EXPECT_EQ(click_command(2).program, "vardelgo");
    for (int32_t other : {3, 4, -1}) {
        TrayCommand c = click_command(other);
        EXPECT_EQ(c.action, TrayAction::Request);
        EXPECT_EQ(c.request, PIPE_SINGLE_STATUS);
    }
    ASSERT_TRUE(tray_command(40014));
    EXPECT_EQ(tray_command(40014)->action, TrayAction::StartService);
    EXPECT_FALSE(tray_command(0));  // a separator is no command
}

TEST(TrayHover, SixRestingTicksAskForTheStatusOnceAndAMoveStops) {
    HoverTracker h;
    EXPECT_TRUE(h.moved({10, 10}));
    EXPECT_FALSE(h.moved({11, 10}));  // already ticking: the new spot is noted
    for (int i = 0; i < 5; ++i) EXPECT_EQ(h.tick({11, 10}), HoverTracker::Step::None) << i;
    EXPECT_EQ(h.tick({11, 10}), HoverTracker::Step::ShowStatus);
    EXPECT_EQ(h.tick({11, 10}), HoverTracker::Step::None);
    EXPECT_EQ(h.tick({12, 10}), HoverTracker::Step::Stop);
    EXPECT_FALSE(h.running());

    // Ticks while the menu is open count for nothing, even a moved cursor.
    EXPECT_TRUE(h.moved({5, 5}));
    h.set_menu_open(true);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(h.tick({99, 99}), HoverTracker::Step::None);
    h.set_menu_open(false);
    EXPECT_EQ(h.tick({99, 99}), HoverTracker::Step::Stop);
    // A new rest counts from zero.
    EXPECT_TRUE(h.moved({5, 5}));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(h.tick({5, 5}), HoverTracker::Step::None);
    EXPECT_EQ(h.tick({5, 5}), HoverTracker::Step::ShowStatus);
}

class TraySessions : public test::ScratchTest {};

TEST_F(TraySessions, OnlyEnabledSetsOfTheTypeInTableOrder) {
    BackupSetTable table;
    auto add = [&](const char* name, int32_t type, bool enabled) {
        auto s = std::make_unique<BackupSet>();
        s->Name = name;
        s->IntervalType = type;
        s->Enabled = enabled;
        table.add(std::move(s));
    };
    add("Zeta", INTERVAL_ON_LOGON, true);
    add("Off", INTERVAL_ON_LOGON, false);
    add("Bye", INTERVAL_ON_LOGOFF, true);
    add("Daily", INTERVAL_DAILY, true);
    add("Alpha", INTERVAL_ON_LOGON, true);
    EXPECT_EQ(session_sets(table, INTERVAL_ON_LOGON), (std::vector<std::string>{"Zeta", "Alpha"}));
    EXPECT_EQ(session_sets(table, INTERVAL_ON_LOGOFF), std::vector<std::string>{"Bye"});
    // No service: nothing delivered, and no error either.
    EXPECT_TRUE(send_session_sets({"Zeta", "Alpha"}).empty());
}

TEST_F(TraySessions, TheIntroductionIsDueOnceAndWithoutAProductKey) {
    registry::Store store = registry::current_store(registry::Transaction::Mode::Write);
    const std::string marker = path("config/vardel/vardelnotify-introduced");
    EXPECT_TRUE(first_run_help_due(store, marker));  // no product key at all
    auto key = registry::create_key(store, registry::Root::LocalMachine, kProductKey);
    ASSERT_TRUE(key);
    EXPECT_TRUE(first_run_help_due(store, marker));
    EXPECT_EQ(registry::read_number(*key, "DontShow3", 0), 1);
    EXPECT_FALSE(first_run_help_due(store, marker));
    // A writable store keeps the mark itself.
    struct stat st;
    EXPECT_NE(::stat(marker.c_str(), &st), 0);
}

// systemctl as the service manager answers it. No systemd runs here, so a
// stand-in script on the path given plays systemctl: it answers "show"
// from show.out with status show.rc, and records each "start".
class TrayServiceStart : public test::ScratchTest {
  protected:
    void SetUp() override {
        ScratchTest::SetUp();
        fake_ = write_file("bin/systemctl",
                           "#!/bin/sh\n"
                           "d=$(dirname \"$0\")\n"
                           "case \"$1\" in\n"
                           "show) cat \"$d/show.out\"; exit $(cat \"$d/show.rc\") ;;\n"
                           "start) echo \"$*\" >> \"$d/started\"; echo 'Job failed' ; exit $(cat "
                           "\"$d/start.rc\") ;;\n"
                           "esac\n"
                           "exit 9\n");
        ::chmod(fake_.c_str(), 0755);
    }
    std::optional<Notice> start_with(const std::string& show, int show_rc, int start_rc = 0) {
        write_file("bin/show.out", show);
        write_file("bin/show.rc", std::to_string(show_rc));
        write_file("bin/start.rc", std::to_string(start_rc));
        return start_service_notice(platform::ServiceManager(fake_));
    }
    std::string started() { return read_file(path("bin/started")); }
    std::string fake_;
};

TEST_F(TrayServiceStart, EachStepsFailureHasItsMessage) {
    auto failed = [](const char* text) { return tray_notice::start_failed(text); };
    EXPECT_EQ(start_service_notice(platform::ServiceManager(path("bin/missing"))),
              failed("Couldn't contact Service Manager"));
    EXPECT_EQ(start_with("System has not been booted with systemd as init system (PID 1).\n", 1),
              failed("Couldn't contact Service Manager"));
    EXPECT_EQ(start_with("LoadState=not-found\nActiveState=inactive\n", 0),
              failed("Couldn't open Service Handle"));
    EXPECT_EQ(start_with("LoadState=loaded\n", 0), failed("Couldn't get service status"));
    EXPECT_EQ(start_with("LoadState=loaded\nActiveState=failed\n", 0, 1),
              failed("Couldn't start service"));
    EXPECT_EQ(failed("x").title, "Start Failed");
    EXPECT_EQ(failed("x").timeout_ms, 10000);
}

TEST_F(TrayServiceStart, OnlyAStoppedServiceIsStarted) {
    for (const char* state : {"active", "activating", "deactivating", "reloading"})
        EXPECT_EQ(start_with(std::string("LoadState=loaded\nActiveState=") + state + "\n", 0),
                  std::nullopt)
            << state;
    EXPECT_EQ(started(), "");
    EXPECT_EQ(start_with("LoadState=loaded\nActiveState=inactive\n", 0),
              tray_notice::service_started());
    EXPECT_EQ(started(), "start -- vardelclient.service\n");
}

}  // namespace
}  // namespace vardel
