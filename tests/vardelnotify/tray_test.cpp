// The tray against a real service (offscreen, in this process), and the
// program itself on a private X server with and without a notification area.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/backup_set.h"
#include "common/general_settings.h"
#include "common/registry.h"
#include "common/setting_names.h"
#include "common/suite_names.h"
#include "gui/balloon.h"
#include "pipeclient/control_client.h"
#include "platform/named_event.h"
#include "tests/support/qt_support.h"
#include "tests/support/running_service.h"
#include "tests/support/x_display.h"
#include "vardelnotify/ui/tray_controller.h"

namespace vardel {
namespace {

using namespace std::chrono_literals;
using test::CollectingClient;

class Tray : public test::ServiceTest {
  protected:
    void SetUp() override {
        ServiceTest::SetUp();
        opener_ = write_file("bin/opener", "#!/bin/sh\necho \"$1\" >> '" + path("opened") + "'\n");
        ::chmod(opener_.c_str(), 0755);
        write_file("help/help.html", "<html></html>\n");
    }

    void set(const std::string& name, int32_t type, bool enabled) {
        BackupSet s;
        s.load(name);
        s.IntervalType = type;
        s.Enabled = enabled;
        s.save();
    }
    void click_action(int32_t value) {
        auto key = registry::open_key(registry::Root::LocalMachine, kProductKey);
        registry::write_number(*key, "ClickAction", value);
    }

    // The tray as the program makes it; the log-on timer far off unless asked.
    std::unique_ptr<TrayController> start_tray(std::chrono::milliseconds logon_delay = 1h,
                                               bool start_signal = true) {
        GeneralSettings g;
        g.load();
        TrayController::Options o;
        o.store = registry::current_store(registry::Transaction::Mode::Read);
        o.install_dir = path("install") + "/";
        o.logon_delay = logon_delay;
        o.help = gui::HelpOpener({QString::fromStdString(path("help"))},
                                 QString::fromStdString(opener_));
        o.first_run_marker = path("marker");
        // No systemd runs here: a stand-in systemctl that finds the service
        // stopped and starts it.
        std::string systemctl = write_file(
            "bin/systemctl",
            "#!/bin/sh\n[ \"$1\" = show ] && printf 'LoadState=loaded\\nActiveState=inactive\\n'\n"
            "exit 0\n");
        ::chmod(systemctl.c_str(), 0755);
        o.service_manager = platform::ServiceManager(systemctl);
        auto tray = std::make_unique<TrayController>(
            g,
            start_signal ? std::make_unique<platform::NamedEvent>(kServiceStartedEventName)
                         : nullptr,
            std::make_unique<platform::NamedEvent>(kReloadEventName), o);
        QObject::connect(tray.get(), &TrayController::notice_shown,
                         [this](const Notice& n) { notices_.push_back(n); });
        QObject::connect(tray.get(), &TrayController::session_sets_sent,
                         [this](int type, const std::vector<std::string>& names) {
                             sent_.emplace_back(type, names);
                         });
        tray->start();
        return tray;
    }

    bool pump_until(const std::function<bool()>& cond) { return test::pump_until(cond); }
    // Waits for a balloon with this title and text (the first from index
    // `from` on); its index.
    std::optional<size_t> wait_for_notice(const std::string& title, const std::string& text,
                                          size_t from = 0) {
        std::optional<size_t> at;
        pump_until([&] {
            for (size_t i = from; i < notices_.size() && !at; ++i)
                if (notices_[i].title == title && notices_[i].text == text) at = i;
            return at.has_value();
        });
        if (!at) {
            std::string seen;
            for (const Notice& n : notices_) seen += "\n  " + n.title + " / " + n.text;
            ADD_FAILURE() << "no balloon " << title << " / " << text << "; shown:" << seen;
        }
        return at;
    }
    std::string opener_;
    std::vector<Notice> notices_;
    std::vector<std::pair<int, std::vector<std::string>>> sent_;
};

TEST_F(Tray, SessionSetsAtLogonAndLogoffAndTheFirstStartsHelp) {
    for (const char* name : {"Logon On", "Logon Off", "Logoff On"}) add_set(name, 1);
    set("Logon On", INTERVAL_ON_LOGON, true);
    set("Logon Off", INTERVAL_ON_LOGON, false);
    set("Logoff On", INTERVAL_ON_LOGOFF, true);
    ASSERT_TRUE(start_service()) << service_output();
    CollectingClient follower(CollectingClient::Asks::Register);
    ASSERT_TRUE(follower.connected());

    auto tray = start_tray(0ms);
    ASSERT_TRUE(pump_until([&] { return !sent_.empty(); }));
    EXPECT_EQ(sent_[0],
              std::make_pair(int(INTERVAL_ON_LOGON), std::vector<std::string>{"Logon On"}));
    EXPECT_TRUE(follower.wait_for(PIPE_BACKUP_COMPLETED, "Logon On"));
    // A completed run, as the tray shows it.
    wait_for_notice("Vardel Service", "Backup 'Logon On' completed");
    EXPECT_EQ(read_file(path("opened")), "file://" + path("help/help.html") + "#30\n");
    auto key = registry::open_key(registry::Root::LocalMachine, kProductKey);
    EXPECT_EQ(registry::read_number(*key, "DontShow3", 0), 1);

    // The session's end sends its sets once; a second report only beeps.
    tray->session_ending();
    tray->session_ending();
    ASSERT_EQ(sent_.size(), 2u);
    EXPECT_EQ(sent_[1],
              std::make_pair(int(INTERVAL_ON_LOGOFF), std::vector<std::string>{"Logoff On"}));
    EXPECT_TRUE(follower.wait_for(PIPE_BACKUP_COMPLETED, "Logoff On"));
    for (const PipeRecord& r : follower.records()) EXPECT_NE(r.text, "Logon Off");
}

TEST_F(Tray, RunsEndingAndTheServiceGoingAndComingBack) {
    add_set("Good", 2);
    add_set("Broken", 1);
    add_set("Stopped", 1);
    BackupSet broken;
    broken.load("Broken");
    broken.BackupDirs = path("nowhere");
    broken.save();
    click_action(3);
    ASSERT_TRUE(start_service()) << service_output();
    auto tray = start_tray();
    // ClickAction 3: the status. Its answer also shows the tray has
    // registered, since the service takes one connection's requests in order.
    tray->left_click();
    wait_for_notice("Vardel Status", "Service Enabled\nNo backups scheduled");

    ControlClient::send_once(PIPE_RUN_SET, "Good");
    wait_for_notice("Vardel Service", "Backup 'Good' starting");
    wait_for_notice("Vardel Service", "Backup 'Good' completed");

    ControlClient::send_once(PIPE_RUN_SET, "Broken");
    ASSERT_TRUE(pump_until(
        [&] { return !notices_.empty() && notices_.back().title == "Vardel Service Error"; }));
    gui::Balloon* shown = gui::Balloon::current();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->notice().timeout_ms, 30000);
    EXPECT_EQ(shown->notice().icon, gui::MessageIcon::Error);
    EXPECT_NE(notices_.back().text.find("Couldn't find path"), std::string::npos)
        << notices_.back().text;

    // An aborted run shows nothing: after the stop's answer only the status
    // asked for at the end.
    CollectingClient follower(CollectingClient::Asks::Register);
    tray->command(40011);  // Pause Backup: the next one starts paused
    wait_for_notice("Vardel Service Alert", "Next backup will pause");
    ControlClient::send_once(PIPE_RUN_SET, "Stopped");
    wait_for_notice("Vardel Service", "Backup 'Stopped' starting");
    tray->command(40004);  // Stop Backup
    std::optional<size_t> stopped =
        wait_for_notice("Vardel Service Alert", "Aborting backup Stopped");
    ASSERT_TRUE(follower.wait_for(PIPE_BACKUP_ABORTED, "Stopped"));
    ASSERT_TRUE(stopped);
    tray->left_click();
    std::optional<size_t> status =
        wait_for_notice("Vardel Status", "Service Enabled\nNo backups scheduled", *stopped);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, *stopped + 1);

    ASSERT_EQ(shut_down(), 0);
    wait_for_notice("Vardel Service Alert", "Service connection broken!");
    tray->left_click();
    wait_for_notice("No Service", "Can't connect to service");
    // The service's start signal brings the tray back.
    ASSERT_TRUE(start_service()) << service_output();
    wait_for_notice("Connected", "Vardel Service Started");
    EXPECT_TRUE(tray->connected());
}

// A connection made again by a command registers for notices too: here
// the tray never hears the service's start signal (as when it came while
// the tray was busy elsewhere).
TEST_F(Tray, ACommandThatConnectsAgainHearsTheNotices) {
    add_set("Good", 1);
    click_action(3);
    auto tray = start_tray(1h, /*start_signal=*/false);
    tray->left_click();
    wait_for_notice("No Service", "Can't connect to service");
    ASSERT_TRUE(start_service()) << service_output();

    size_t from = notices_.size();
    tray->left_click();
    wait_for_notice("Vardel Status", "Service Enabled\nNo backups scheduled", from);
    ControlClient::send_once(PIPE_RUN_SET, "Good");
    wait_for_notice("Vardel Service", "Backup 'Good' completed", from);
}

TEST_F(Tray, ClicksStartProgramsAndAReloadTakesNewSettings) {
    std::string program =
        write_file("install/vardelcfg", "#!/bin/sh\npwd > '" + path("started") + "'\n");
    ::chmod(program.c_str(), 0755);
    click_action(0);
    auto tray = start_tray();
    EXPECT_EQ(tray->settings().ClickAction, 0);
    tray->left_click();
    // Started in the installation folder.
    ASSERT_TRUE(pump_until([&] { return !read_file(path("started")).empty(); }));
    EXPECT_EQ(read_file(path("started")), path("install") + "\n");

    tray->command(40013);  // About Vardel: no vardelinfo installed here
    wait_for_notice("Start Failed", "Can't start " + path("install") + "/vardelinfo");

    click_action(1);
    platform::NamedEvent(kReloadEventName).pulse();
    EXPECT_TRUE(pump_until([&] { return tray->settings().ClickAction == 1; }));

    tray->command(40014);  // Start Service, off the GUI thread
    wait_for_notice("Success", "Vardel Service Started");
}

// The program as a desktop starts it, on an X server of its own.
class TrayProgram : public Tray {
  protected:
    std::vector<std::string> env(const test::XDisplay& x) {
        std::vector<std::string> e = x.environment();
        // Qt would use a desktop's D-Bus tray instead of the X one here.
        e.push_back("DBUS_SESSION_BUS_ADDRESS");
        e.push_back("XDG_SESSION_ID");
        return e;
    }
    void xdotool(const test::XDisplay& x, const std::vector<std::string>& args) {
        std::vector<std::string> argv{"/usr/bin/xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_EQ(test::run_program(argv, {"DISPLAY=" + x.name()}).exit_code, 0);
    }
    void SetUp() override {
        Tray::SetUp();
        // The introduction's help is not what these tests look at.
        auto key = registry::open_key(registry::Root::LocalMachine, kProductKey);
        registry::write_number(*key, "DontShow3", 1);
    }
};

TEST_F(TrayProgram, InANotificationAreaTheIconShowsTheStatusWhenTheMouseRestsOnIt) {
    ASSERT_TRUE(start_service()) << service_output();
    test::XDisplay x;
    test::BackgroundProcess trayer({"/usr/bin/trayer", "--edge", "bottom", "--align", "right",
                                    "--widthtype", "pixel", "--width", "100", "--height", "24"},
                                   env(x));
    ASSERT_TRUE(x.wait_for_window("panel"));
    test::BackgroundProcess tray({test::program_path("vardelnotify")}, env(x), path("tray.out"));
    // The status at start, pointing at the icon in the panel.
    unsigned long balloon = x.wait_for_window("Vardel Status");
    ASSERT_TRUE(balloon) << read_file(path("tray.out"));
    unsigned long icon = x.wait_for_window("vardelnotify");
    std::optional<test::XDisplay::Box> at = x.window_box(icon);
    ASSERT_TRUE(at);
    EXPECT_GE(at->x, 1180);
    EXPECT_GE(at->y, 696);
    std::optional<test::XDisplay::Box> b = x.window_box(balloon);
    ASSERT_TRUE(b);
    EXPECT_LE(b->y + b->height, at->y + at->height);
    EXPECT_GE(b->y + b->height, at->y);

    // A click closes the balloon.
    xdotool(x, {"mousemove", std::to_string(b->x + 60), std::to_string(b->y + 40), "click", "1"});
    EXPECT_TRUE(test::wait_until([&] { return !x.window_shown(balloon); }));
    // Resting on the icon brings the status back; moving away closes it.
    const std::string cx = std::to_string(at->x + at->width / 2);
    const std::string cy = std::to_string(at->y + at->height / 2);
    xdotool(x, {"mousemove", cx, cy, "sleep", "0.1", "mousemove", cx, std::to_string(at->y + 3)});
    balloon = x.wait_for_window("Vardel Status");
    ASSERT_TRUE(balloon);
    xdotool(x, {"mousemove", "100", "100"});
    EXPECT_TRUE(test::wait_until([&] { return !x.window_shown(balloon); }));

    tray.signal(SIGTERM);
    EXPECT_EQ(tray.wait(), 0);
}

TEST_F(TrayProgram, WithoutANotificationAreaTheCornerBalloonSaysSoAndOneCopyRuns) {
    test::XDisplay x;
    test::BackgroundProcess tray({test::program_path("vardelnotify")}, env(x), path("tray.out"));
    unsigned long balloon = x.wait_for_window("Vardel Tray");
    ASSERT_TRUE(balloon) << read_file(path("tray.out"));
    std::optional<test::XDisplay::Box> b = x.window_box(balloon);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->y + b->height, 719);
    EXPECT_LE(b->x + b->width, 1280);

    test::ChildResult second =
        test::run_program({test::program_path("vardelnotify")}, env(x), {}, 20s);
    EXPECT_EQ(second.exit_code, 0) << second.err;
    EXPECT_TRUE(tray.running());
    tray.signal(SIGTERM);
    EXPECT_EQ(tray.wait(), 0);
}

TEST_F(TrayProgram, AStartWithoutAnInstallationFolderIsAFatalError) {
    auto key = registry::open_key(registry::Root::LocalMachine, kProductKey);
    registry::write_text(*key, kInstallDirValue, "");
    test::XDisplay x;
    test::BackgroundProcess tray({test::program_path("vardelnotify")}, env(x), path("tray.out"));
    unsigned long box = x.wait_for_window("Fatal Error");
    ASSERT_TRUE(box) << read_file(path("tray.out"));
    x.close_window(box);
    EXPECT_EQ(tray.wait(), 1);
}

TEST(TrayAutostart, TheEntryIsValidAndStartsTheInstalledTray) {
    const std::string entry = VARDEL_BUILD_DIR "/packaging/vardelnotify.desktop";
    test::ChildResult r = test::run_program({"/usr/bin/desktop-file-validate", entry});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_NE(test::read_whole_file(entry).find("\nExec=/"), std::string::npos);
}

}  // namespace
}  // namespace vardel
