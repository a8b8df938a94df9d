#include "vardelnotify/ui/tray_controller.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QFutureWatcher>
#include <QMenu>
#include <QMouseEvent>
#include <QProcess>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include "common/installed_program.h"
#include "common/log.h"
#include "common/my_error.h"
#include "common/setting_names.h"
#include "common/text_helpers.h"
#include "gui/balloon.h"
#include "gui/icons.h"
#include "gui/message_box.h"
#include "gui/service_link.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "vardelnotify/service_start.h"
#include "vardelnotify/session_sets.h"

namespace vardel {

namespace {

gui::MessageIcon message_icon(NoticeIcon icon) {
    switch (icon) {
        case NoticeIcon::Error:
            return gui::MessageIcon::Error;
        case NoticeIcon::Warning:
            return gui::MessageIcon::Warning;
        case NoticeIcon::Information:
            break;
    }
    return gui::MessageIcon::Information;
}

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

TrayController::TrayController(GeneralSettings settings,
                               std::unique_ptr<platform::NamedEvent> started_event,
                               std::unique_ptr<platform::NamedEvent> reload_event, Options options,
                               QObject* parent)
    : QObject(parent),
      settings_(std::move(settings)),
      service_started_(std::move(started_event)),
      reload_(std::move(reload_event)),
      options_(std::move(options)) {
    link_ = new gui::ServiceLink("Service connection broken!", options_.socket_path, this);
    connect(link_, &gui::ServiceLink::received, this, &TrayController::take_record);
    connect(link_, &gui::ServiceLink::send_failed, this, [] {
        gui::message_box(nullptr, QStringLiteral("QueueMessage failure"), QStringLiteral("Oops"),
                         gui::MessageIcon::Warning);
    });

    icon_ = new QSystemTrayIcon(gui::suite_icon(), this);
    build_menu();
    icon_->setContextMenu(menu_);
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger) left_click();
    });

    hover_timer_ = new QTimer(this);
    hover_timer_->setInterval(HoverTracker::kTickMs);
    connect(hover_timer_, &QTimer::timeout, this, &TrayController::hover_tick);
    // The icon tells of no mouse moves; its window on the desktop does.
    qApp->installEventFilter(this);

    // Neither event is reset here: the service and the editor own them.
    if (service_started_) {
        started_notifier_ =
            new QSocketNotifier(service_started_->fd(), QSocketNotifier::Read, this);
        connect(started_notifier_, &QSocketNotifier::activated, this, [this] {
            if (service_started_->consume()) try_connect();
        });
    }
    if (reload_) {
        reload_notifier_ = new QSocketNotifier(reload_->fd(), QSocketNotifier::Read, this);
        connect(reload_notifier_, &QSocketNotifier::activated, this, [this] {
            if (reload_->consume()) reload();
        });
    }
}

TrayController::~TrayController() {
    qApp->removeEventFilter(this);
    gui::Balloon::close_current();
}

void TrayController::build_menu() {
    menu_ = new QMenu();
    menu_->setObjectName(QStringLiteral("104"));
    connect(this, &QObject::destroyed, menu_, &QObject::deleteLater);
    for (const TrayCommand& c : tray_menu()) {
        if (c.action == TrayAction::Separator) {
            menu_->addSeparator();
            continue;
        }
        QAction* a = menu_->addAction(text(c.text));
        a->setObjectName(QString::number(c.id));
        const int id = c.id;
        connect(a, &QAction::triggered, this, [this, id] { command(id); });
    }
    connect(menu_, &QMenu::aboutToShow, this, [this] {
        hover_timer_->stop();
        hover_.stop();
        gui::Balloon::close_current();
        hover_.set_menu_open(true);
    });
    connect(menu_, &QMenu::aboutToHide, this, [this] { hover_.set_menu_open(false); });
}

void TrayController::start() {
    const bool tray = QSystemTrayIcon::isSystemTrayAvailable();
    icon_->show();
    bool up = link_->open();
    if (!tray) {
        // Said once; the status balloon that would follow at once would
        // hide it, so the status waits for the user's first request.
        show_notice(tray_notice::no_notification_area());
        if (up) link_->send_in_turn({PIPE_REGISTER});
    } else if (up) {
        link_->send_in_turn({PIPE_SINGLE_STATUS, PIPE_REGISTER});
    }
    QTimer::singleShot(options_.logon_delay, this, &TrayController::logon_timer);
}

bool TrayController::connected() const {
    return link_->is_open();
}

QRect TrayController::icon_rect() const {
    if (!icon_->isVisible() || !QSystemTrayIcon::isSystemTrayAvailable()) return {};
    QRect r = icon_->geometry();
    // Until the notification area has taken the icon in, Qt places it at
    // the screen's origin: the corner is a better guess then.
    return r.isValid() && r.topLeft() != QPoint(0, 0) ? r : QRect();
}

void TrayController::show_notice(const Notice& n) {
    if (n.beep) gui::beep();
    gui::Balloon::show_notice({text(n.title), text(n.text), message_icon(n.icon), n.timeout_ms},
                              icon_rect());
    emit notice_shown(n);
}

void TrayController::take_record(const PipeRecord& record) {
    if (std::optional<Notice> n = notice_for(record)) show_notice(*n);
}

bool TrayController::ensure_connected() {
    if (link_->is_open()) return true;
    if (!link_->open()) return false;
    // A connection made again for a command would otherwise never hear of
    // a backup failing: the service's start signal may have come and gone.
    link_->send_in_turn({PIPE_REGISTER});
    return true;
}

void TrayController::request(uint32_t code) {
    if (!ensure_connected()) {
        show_notice(tray_notice::no_service());
        return;
    }
    link_->send_in_turn({code});
}

void TrayController::try_connect() {
    if (link_->is_open() || !link_->open()) return;
    show_notice(tray_notice::connected());
    link_->send_in_turn({PIPE_REGISTER});
}

void TrayController::reload() {
    try {
        settings_.load(options_.store);
    } catch (const MyError& e) {
        // The settings as they were go on serving.
        log(LOG_DEBUG, "Tray reload failed: %s\n", e.message());
    }
}

void TrayController::left_click() {
    gui::Balloon::close_current();
    run(click_command(settings_.ClickAction));
}

void TrayController::command(int id) {
    if (const TrayCommand* c = tray_command(id)) run(*c);
}

void TrayController::run(const TrayCommand& c) {
    switch (c.action) {
        case TrayAction::StartProgram:
            start_program(c.program);
            break;
        case TrayAction::Request:
            request(c.request);
            break;
        case TrayAction::StartService:
            start_service();
            break;
        case TrayAction::Close:
            close_tray();
            break;
        case TrayAction::Help:
            options_.help.open(nullptr, kTrayHelpContext);
            break;
        case TrayAction::Separator:
            break;
    }
}

void TrayController::start_program(const std::string& name) {
    std::string own = std::string(folder_part(platform::own_program_path()));
    std::string program = installed_program(name, options_.install_dir, own);
    // Nothing at all happening on a click would leave the user guessing.
    if (!QProcess::startDetached(text(program), {}, text(options_.install_dir)))
        show_notice(tray_notice::start_failed("Can't start " + program));
}

void TrayController::start_service() {
    if (starting_service_) return;
    starting_service_ = true;
    // systemctl waits for the service, and perhaps for a password: not on
    // the GUI thread.
    auto* watcher = new QFutureWatcher<std::optional<Notice>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        starting_service_ = false;
        if (std::optional<Notice> n = watcher->result()) show_notice(*n);
        watcher->deleteLater();
    });
    platform::ServiceManager manager = options_.service_manager;
    watcher->setFuture(QtConcurrent::run([manager] { return start_service_notice(manager); }));
}

void TrayController::logon_timer() {
    std::vector<std::string> sent = send_session_sets(
        session_sets(settings_.backup_sets(), INTERVAL_ON_LOGON), options_.socket_path);
    emit session_sets_sent(INTERVAL_ON_LOGON, sent);
    if (first_run_help_due(options_.store, options_.first_run_marker))
        options_.help.open(nullptr, kFirstRunHelpContext);
}

void TrayController::session_ending() {
    if (logoff_handled_) {
        gui::beep();
        return;
    }
    logoff_handled_ = true;
    std::vector<std::string> sent = send_session_sets(
        session_sets(settings_.backup_sets(), INTERVAL_ON_LOGOFF), options_.socket_path);
    emit session_sets_sent(INTERVAL_ON_LOGOFF, sent);
}

void TrayController::close_tray() {
    gui::Balloon::close_current();
    icon_->hide();
    emit closing();
}

bool TrayController::eventFilter(QObject* watched, QEvent* event) {
    // Qt's tray icon window on an XEmbed notification area.
    if (event->type() == QEvent::MouseMove &&
        watched->objectName() == QLatin1String("QSystemTrayIconSys")) {
        QPoint at = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
        if (hover_.moved({at.x(), at.y()})) hover_timer_->start();
    }
    return QObject::eventFilter(watched, event);
}

void TrayController::hover_tick() {
    QPoint at = QCursor::pos();
    switch (hover_.tick({at.x(), at.y()})) {
        case HoverTracker::Step::ShowStatus:
            request(PIPE_SINGLE_STATUS);
            break;
        case HoverTracker::Step::Stop:
            hover_timer_->stop();
            gui::Balloon::close_current();
            break;
        case HoverTracker::Step::None:
            break;
    }
}

}  // namespace vardel
