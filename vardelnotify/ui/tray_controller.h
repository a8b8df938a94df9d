#pragma once
// The tray program's heart: the icon and its menu, the kept connection to
// the service (status, then notices), a balloon for every notice, the
// mouse rules (right click the menu, left click by ClickAction, resting on
// the icon the status), the commands, the sets started at log-on and
// log-off, and the service's start and reload signals. GUI thread only.
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/general_settings.h"
#include "common/registry.h"
#include "gui/help_opener.h"
#include "platform/named_event.h"
#include "platform/service_manager.h"
#include "vardelnotify/hover_tracker.h"
#include "vardelnotify/tray_menu.h"
#include "vardelnotify/tray_notices.h"

class QMenu;
class QSocketNotifier;
class QSystemTrayIcon;
class QTimer;

namespace vardel {

namespace gui {
class ServiceLink;
}

class TrayController : public QObject {
    Q_OBJECT
  public:
    struct Options {
        registry::Store store;    // where the settings and "DontShow3" live
        std::string install_dir;  // the programs are started from here
        std::string socket_path;  // empty: the service's own
        std::chrono::milliseconds logon_delay{5000};
        gui::HelpOpener help;
        platform::ServiceManager service_manager;
        std::string first_run_marker;  // see first_run_help_due()
    };

    // Takes the settings as loaded and the two events (the service's start
    // signal and the editor's reload signal), which it watches from now on.
    TrayController(GeneralSettings settings, std::unique_ptr<platform::NamedEvent> service_started,
                   std::unique_ptr<platform::NamedEvent> reload, Options options,
                   QObject* parent = nullptr);
    ~TrayController() override;

    // Shows the icon (or says that there is no notification area), connects
    // and asks for the status and the notices, and arms the log-on timer.
    void start();

    // What the icon and its menu do, callable as a user would.
    void left_click();
    void command(int id);
    // The session is ending: the "On Logoff" sets, once.
    void session_ending();
    // The service's start signal: connect when not connected.
    void try_connect();
    // The editor's reload signal: the sets and settings afresh.
    void reload();

    QMenu* menu() const { return menu_; }
    QSystemTrayIcon* icon() const { return icon_; }
    const GeneralSettings& settings() const { return settings_; }
    bool connected() const;
    // Shows `notice` pointing at the icon (or the screen's corner).
    void show_notice(const Notice& notice);

  signals:
    // Every balloon shown, for the log and the tests.
    void notice_shown(const vardel::Notice& notice);
    // The sets sent at log-on and log-off.
    void session_sets_sent(int interval_type, const std::vector<std::string>& names);
    // Closing the tray program: the icon is gone, the program may end.
    void closing();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void build_menu();
    void take_record(const PipeRecord& record);
    void request(uint32_t code);
    bool ensure_connected();
    void start_program(const std::string& name);
    void start_service();
    void logon_timer();
    void hover_tick();
    void close_tray();
    void run(const TrayCommand& c);
    QRect icon_rect() const;

    GeneralSettings settings_;
    std::unique_ptr<platform::NamedEvent> service_started_;
    std::unique_ptr<platform::NamedEvent> reload_;
    Options options_;

    QSystemTrayIcon* icon_ = nullptr;
    QMenu* menu_ = nullptr;
    gui::ServiceLink* link_ = nullptr;
    QTimer* hover_timer_ = nullptr;
    QSocketNotifier* started_notifier_ = nullptr;
    QSocketNotifier* reload_notifier_ = nullptr;
    HoverTracker hover_;
    bool logoff_handled_ = false;
    bool starting_service_ = false;
};

}  // namespace vardel
