#include "vardeld/scheduler.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include "common/pipe_record.h"
#include "tests/support/log_capture.h"
#include "tests/support/scratch.h"
#include "vardeld/control_window.h"
#include "vardeld/service_messages.h"

#include "tests/support/set_clock.h"

namespace vardel {
namespace {

using namespace std::chrono_literals;

using test::SetClock;

// UTC seconds of a wall-clock moment in the zone TZ names.
int64_t wall(int y, int mo, int d, int h, int mi = 0, int s = 0) {
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&tm));
}

class SchedulerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        clock.t = wall(2026, 3, 10, 9, 0);
    }
    void TearDown() override {
        unsetenv("TZ");
        tzset();
    }
    BackupSet& add_daily(const std::string& name, int64_t start) {
        auto s = std::make_unique<BackupSet>();
        s->Name = name;
        s->IntervalType = INTERVAL_DAILY;
        s->StartTime = static_cast<int32_t>(start);
        return settings.backup_sets().add(std::move(s));
    }
    std::vector<std::string> names() {
        std::vector<std::string> v;
        for (const QueueEntry& e : scheduler.queue())
            v.push_back(e.set->Name + (e.manual ? "*" : ""));
        return v;
    }

    SetClock clock;
    LocalClock local{clock};
    ServiceState state;
    platform::MessageLoop loop;
    Scheduler scheduler{loop, local, state};
    GeneralSettings settings;
    test::LogCapture logs;
};

TEST_F(SchedulerTest, TenSecondsAwayArmsTheStartOnlySixtyArmsTheWarningForForty) {
    add_daily("Soon", 9 * 3600 + 10);
    scheduler.schedule_all(settings);
    EXPECT_EQ(loop.timer_delay(kStartTimer), 10000ms);
    EXPECT_FALSE(loop.timer_armed(kWarnTimer));
    EXPECT_TRUE(logs.has("Schedule set 'Soon' for  Tue Mar 10 2026 09:00:10"));
    EXPECT_TRUE(
        logs.has("Set Timer for 10 seconds from now, for set 'Soon', To go off at Tue Mar 10 "
                 "09:00:10 2026\r\n"));

    settings.backup_sets().clear();
    scheduler.reschedule(settings);
    add_daily("Later", 9 * 3600 + 60);
    scheduler.reschedule(settings);
    EXPECT_EQ(names(), std::vector<std::string>{"Later"});
    EXPECT_EQ(loop.timer_delay(kStartTimer), 60000ms);
    EXPECT_EQ(loop.timer_delay(kWarnTimer), 40000ms);
    settings.WarnUserWhenBackupStarts = false;
    scheduler.arm_timers(settings);
    EXPECT_FALSE(loop.timer_armed(kWarnTimer));
}

TEST_F(SchedulerTest, SetsDueTogetherKeepTheirOrderAndManualRequestsWaitBehindTheRunningOne) {
    add_daily("First", 10 * 3600);
    add_daily("Second", 10 * 3600);
    add_daily("Early", 9 * 3600 + 30);
    scheduler.schedule_all(settings);
    EXPECT_EQ(names(), (std::vector<std::string>{"Early", "First", "Second"}));

    state.running = true;  // "Early" runs
    state.running_set = "Early";
    scheduler.queue_manual("second", settings);  // without regard to case
    EXPECT_EQ(names(), (std::vector<std::string>{"Early", "Second*", "First", "Second"}));
    scheduler.queue_manual("nobody", settings);
    EXPECT_EQ(scheduler.queue().size(), 4u);

    // Done: the head goes, "Early" comes back for tomorrow, the manual one is next.
    state.running = false;
    clock.t = wall(2026, 3, 10, 9, 1);
    scheduler.finished(settings);
    EXPECT_EQ(names(), (std::vector<std::string>{"Second*", "First", "Second", "Early"}));
    EXPECT_EQ(scheduler.queue().back().due, local.to_local(wall(2026, 3, 11, 9, 0, 30)));
    EXPECT_EQ(loop.timer_delay(kStartTimer), 50ms);  // due at once
}

// The editor saves (and so reloads) while a backup runs: the running set
// must stay queued once, or it runs twice at every due time from then on.
TEST_F(SchedulerTest, AReloadOrEnableDuringARunQueuesTheRunningSetOnce) {
    add_daily("Night", 9 * 3600 + 30);
    add_daily("Other", 11 * 3600);
    scheduler.schedule_all(settings);
    state.running = true;
    state.running_set = "Night";
    scheduler.reschedule(settings);
    EXPECT_EQ(names(), (std::vector<std::string>{"Night", "Other"}));
    scheduler.drop_scheduled();
    scheduler.schedule_all(settings);
    EXPECT_EQ(names(), (std::vector<std::string>{"Night", "Other"}));

    state.running = false;
    clock.t = wall(2026, 3, 10, 9, 5);
    scheduler.finished(settings);
    EXPECT_EQ(names(), (std::vector<std::string>{"Other", "Night"}));
    EXPECT_EQ(loop.timer_delay(kStartTimer),
              std::chrono::milliseconds((11 * 3600 - (9 * 3600 + 300)) * 1000LL));

    // A manual run of a scheduled set does not take its scheduled place.
    scheduler.queue_manual("Night", settings);
    state.running = true;
    state.running_set = "Night";
    scheduler.reschedule(settings);
    EXPECT_EQ(names(), (std::vector<std::string>{"Night*", "Other", "Night"}));
}

TEST_F(SchedulerTest, DisabledServicesStartOnlyManualRequests) {
    add_daily("Daily", 9 * 3600 + 30);
    state.enabled = false;
    scheduler.schedule_all(settings);
    EXPECT_FALSE(loop.timer_armed(kStartTimer));
    EXPECT_EQ(scheduler.startable_head(), nullptr);
    scheduler.queue_manual("Daily", settings);
    ASSERT_NE(scheduler.startable_head(), nullptr);
    EXPECT_TRUE(scheduler.startable_head()->manual);
    EXPECT_TRUE(loop.timer_armed(kStartTimer));

    // Enabling again queues each set once, manual requests kept.
    state.enabled = true;
    scheduler.drop_scheduled();
    scheduler.schedule_all(settings);
    EXPECT_EQ(names(), (std::vector<std::string>{"Daily*", "Daily"}));
}

TEST_F(SchedulerTest, AnEmptyQueueSaysSoAndWhatIsRunning) {
    scheduler.arm_timers(settings);
    EXPECT_TRUE(logs.has("INFO      No backups scheduled.  "));
    EXPECT_TRUE(logs.has("INFO      Idle\r\n"));
    state.running = true;
    state.running_set = "Big";
    scheduler.arm_timers(settings);
    EXPECT_TRUE(logs.has("Backup 'Big' in progress\r\n"));
}

TEST_F(SchedulerTest, ADaylightSavingChangeKeepsTheRunAtItsWallClockTime) {
    // Winter time ends on 2026-03-29 at 02:00. The 01:00 run of the 29th
    // finishes; the next is the 30th at 01:00 summer time, 23 hours later.
    add_daily("Night", 3600);
    clock.t = wall(2026, 3, 29, 1, 0, 0);
    scheduler.schedule_all(settings);  // due the 30th now (01:00 just passed)
    EXPECT_EQ(loop.timer_delay(kStartTimer), std::chrono::seconds(23 * 3600));
    EXPECT_TRUE(logs.has("Schedule set 'Night' for  Mon Mar 30 2026 01:00:00"));

    // And back: on 2026-10-25 the clock goes from 03:00 to 02:00.
    clock.t = wall(2026, 10, 25, 1, 0, 0);
    scheduler.reschedule(settings);
    EXPECT_EQ(loop.timer_delay(kStartTimer), std::chrono::seconds(25 * 3600));
}

class ControlWindowTest : public test::ScratchTest {
  protected:
    SetClock clock;
    LocalClock local{clock};
    platform::MessageLoop loop;
    GeneralSettings settings;
    test::LogCapture logs;
};

TEST_F(ControlWindowTest, SuspendIsRefusedOnlyWhileABackupRunsAndResumeReloads) {
    clock.t = 1800000000;
    ControlWindow window(loop, settings, local, {});
    using platform::Message;
    EXPECT_NE(window.handle(Message{platform::WM_POWERBROADCAST, platform::PBT_APMQUERYSUSPEND, 0}),
              platform::BROADCAST_QUERY_DENY);
    EXPECT_TRUE(logs.has("Suspend/Hibernate request received"));

    // A run whose destination is missing fails at once; start it and ask while it "runs".
    auto s = std::make_unique<BackupSet>();
    s->Name = "Busy";
    s->IntervalType = INTERVAL_ON_DEMAND;
    settings.backup_sets().add(std::move(s));
    window.handle(Message{platform::WM_CREATE, 0, 0});
    ControlRequest run{PIPE_RUN_SET, "busy", -1};
    window.handle(Message{WUM_CONTROL, PIPE_RUN_SET, reinterpret_cast<intptr_t>(&run)});
    window.handle(Message{platform::WM_TIMER, kStartTimer, 0});
    ASSERT_TRUE(window.state().running);
    EXPECT_EQ(window.handle(Message{platform::WM_POWERBROADCAST, platform::PBT_APMQUERYSUSPEND, 0}),
              platform::BROADCAST_QUERY_DENY);
    EXPECT_TRUE(logs.has("Backup is in progress. Refuse to hibernate"));

    window.handle(Message{platform::WM_POWERBROADCAST, platform::PBT_APMSUSPEND, 0});
    EXPECT_FALSE(loop.timer_armed(kStartTimer));
    window.handle(Message{platform::WM_POWERBROADCAST, platform::PBT_APMRESUMESUSPEND, 0});
    EXPECT_TRUE(logs.has("Resuming from hibernate or suspend. Schedule recalculated"));
    EXPECT_TRUE(logs.has("Reload settings"));
}

TEST_F(ControlWindowTest, RequestsWithNothingRunningAnswerAndChangeOnlyWhatTheySay) {
    ControlWindow window(loop, settings, local, {});
    using platform::Message;
    auto send = [&](uint32_t code, const char* text = "") {
        ControlRequest r{code, text, -1};
        window.handle(Message{WUM_CONTROL, code, reinterpret_cast<intptr_t>(&r)});
    };
    window.handle(Message{platform::WM_CREATE, 0, 0});
    send(PIPE_PAUSE);
    EXPECT_TRUE(window.flags().paused());
    EXPECT_TRUE(logs.has("INFO      Next backup will pause"));
    send(PIPE_RESUME);
    EXPECT_FALSE(window.flags().paused());
    EXPECT_TRUE(logs.has("Next backup will proceed as scheduled"));
    send(PIPE_STOP);
    EXPECT_FALSE(window.flags().aborting());
    EXPECT_TRUE(logs.has("COMPLAIN  No backup in progress"));
    send(PIPE_DISABLE);
    send(PIPE_DISABLE);
    EXPECT_TRUE(logs.has("COMPLAIN  Service already disabled"));
    send(PIPE_ENABLE);
    send(PIPE_ENABLE);
    EXPECT_TRUE(logs.has("COMPLAIN  Service already enabled!"));
    send(9);
    send(40);
    EXPECT_EQ(logs.occurrences("ERROR     Unknown message"), 2);
    EXPECT_TRUE(logs.has("got wum_message 40:"));

    std::string status = window.status_text();
    EXPECT_EQ(status.substr(status.rfind("\r\n") + 2), "No backups scheduled");
    EXPECT_NE(status.find("\r\n<none>\r\n"), std::string::npos);
}

}  // namespace
}  // namespace vardel
