#include "vardelnotify/ui/tray_program.h"

#include <QSocketNotifier>
#include <memory>
#include <system_error>

#include "common/general_settings.h"
#include "common/my_error.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"
#include "gui/guarded_application.h"
#include "gui/message_box.h"
#include "gui/single_instance.h"
#include "platform/login_session.h"
#include "platform/named_event.h"
#include "platform/signal_watch.h"
#include "vardelnotify/session_sets.h"
#include "vardelnotify/ui/session_end.h"
#include "vardelnotify/ui/tray_controller.h"

namespace vardel {

namespace {

int fatal(const QString& text) {
    gui::message_box(nullptr, text, QStringLiteral("Fatal Error"), gui::MessageIcon::Error);
    return 1;
}

std::unique_ptr<platform::NamedEvent> open_event(const char* name, const char* failure,
                                                 QString& error) {
    try {
        return std::make_unique<platform::NamedEvent>(name);
    } catch (const std::system_error& e) {
        error = QString::fromLocal8Bit(strprintf(failure, system_error_text(e.code().value())));
        return nullptr;
    }
}

}  // namespace

int run_tray(int argc, char** argv) {
    // Before Qt starts threads of its own, so the signals reach the watch.
    platform::block_termination_signals();
    platform::SignalWatch termination;
    gui::GuardedApplication app(argc, argv, QStringLiteral("vardelnotify"));
    // Balloons come and go; the program lives on without any window.
    app.setQuitOnLastWindowClosed(false);

    registry::Store store;
    GeneralSettings settings;
    try {
        store = registry::current_store(registry::Transaction::Mode::Read);
        settings.load(store);
    } catch (const MyError& e) {
        return fatal(QString::fromLocal8Bit(e.message()));
    }

    const std::string session = platform::login_session();
    gui::SingleInstance one_copy("unique_vardelnotify_" + session);
    if (one_copy.failed()) return fatal(QStringLiteral("Can't create mutex"));
    if (!one_copy.first()) return 0;

    std::string install_dir;
    try {
        std::optional<registry::Key> key =
            registry::open_key(store, registry::Root::LocalMachine, kProductKey);
        if (!key) return fatal(QStringLiteral("Can't open registry"));
        install_dir = registry::read_text(*key, kInstallDirValue, "");
    } catch (const MyError&) {
        return fatal(QStringLiteral("Can't open registry"));
    }
    if (install_dir.empty()) return fatal(QStringLiteral("Can't find InstallDir in registry"));
    if (install_dir.back() != '/') install_dir += '/';

    QString error;
    auto started = open_event(kServiceStartedEventName, "Can't create signal event -- %s", error);
    if (!started) return fatal(error);
    auto reload = open_event(kReloadEventName, "Can't create reload event -- %s", error);
    if (!reload) return fatal(error);

    TrayController::Options options;
    options.store = store;
    options.install_dir = install_dir;
    options.first_run_marker = default_first_run_marker();
    TrayController tray(std::move(settings), std::move(started), std::move(reload),
                        std::move(options));
    QObject::connect(&tray, &TrayController::closing, &app, &QCoreApplication::quit);

    SessionEnd session_end(QString::fromStdString(session));
    QObject::connect(&session_end, &SessionEnd::ending, &tray, &TrayController::session_ending);

    // A termination signal (the desktop stopping its programs, a kill)
    // ends the program in order: the icon goes, nothing else is sent.
    QSocketNotifier on_signal(termination.fd(), QSocketNotifier::Read);
    QObject::connect(&on_signal, &QSocketNotifier::activated, &app, [&] {
        if (termination.take()) QCoreApplication::quit();
    });

    tray.start();
    return app.exec();
}

}  // namespace vardel
