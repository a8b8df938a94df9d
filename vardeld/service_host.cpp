#include "vardeld/service_host.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "common/fault_translation.h"
#include "common/log.h"
#include "common/log_file.h"
#include "common/my_error.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"
#include "platform/local_socket.h"
#include "platform/named_event.h"
#include "platform/paths.h"
#include "platform/power_events.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service_notify.h"
#include "platform/signal_watch.h"
#include "vardeld/backup.h"
#include "vardeld/control_window.h"
#include "vardeld/pipe_server.h"
#include "vardeld/progress_display.h"
#include "vardeld/service_mail.h"

namespace vardel {

namespace {

using namespace std::chrono_literals;

// The log file's view of the service: the settings as last loaded (copied
// under a lock, since any thread may open the log), "CurrentCycle" in the
// store, the mailer, and the main loop for WUM_LOG_CYCLED.
class ServiceLogHost : public LogFileHost {
  public:
    explicit ServiceLogHost(platform::MessageLoop* loop) : loop_(loop) {}

    void update(const GeneralSettings& g) {
        std::lock_guard l(m_);
        s_.log_file_path = g.LogFilePath;
        s_.cycle_log_days = g.CycleLogDays;
        s_.cycle_log_size = g.CycleLogSize;
        s_.keep_n_logs = g.KeepNLogs;
        s_.mail_old_log = g.MailOldLog;
        s_.mail_log_email = g.MailLogEmail;
        general_ = g;
    }
    LogFileSettings log_settings() override {
        std::lock_guard l(m_);
        return s_;
    }
    bool read_current_cycle(int64_t& cycle) override {
        try {
            auto key = registry::open_key(registry::Root::LocalMachine, kProductKey);
            if (!key) return false;
            cycle = registry::read_number(*key, kCurrentCycleValue, 0);
            return true;
        } catch (const MyError&) {
            return false;
        }
    }
    bool write_current_cycle(int64_t cycle) override {
        try {
            auto key = registry::open_key(registry::Root::LocalMachine, kProductKey);
            if (!key) return false;
            registry::write_number(*key, kCurrentCycleValue, static_cast<int32_t>(cycle));
            return true;
        } catch (const MyError&) {
            return false;
        }
    }
    bool mail_log(const std::string& to, const std::string& body, std::string& error) override {
        GeneralSettings g;
        {
            std::lock_guard l(m_);
            g = general_;
        }
        return send_service_mail(to, "Completed Log", body, g, error);
    }
    void log_cycled() override {
        if (loop_) loop_->post(WUM_LOG_CYCLED);
    }

  private:
    platform::MessageLoop* loop_;
    std::mutex m_;
    LogFileSettings s_;
    GeneralSettings general_;
};

enum class Mode { Service, Interactive, RunOnce };

void report_box(Mode mode, const char* title, const std::string& text) {
    // Interactively the message box is a line on standard error.
    if (mode == Mode::Interactive) std::fprintf(stderr, "%s: %s\n", title, text.c_str());
}

// The main loop, the same in both modes. Returns 0, or 3/4/5 for a failed
// start.
int main_loop(Mode mode, GeneralSettings& settings, LogFile& log_file, ServiceLogHost& log_host,
              platform::MessageLoop& loop, platform::SignalWatch* signals) {
    log(LOG_INFO, "Vardeld started %s\r\n", now_text().c_str());
    log(LOG_INFO, "Running as %s\r\n", platform::account_name().c_str());

    LocalClock clock;
    BackupServices services;
    services.mail = send_service_mail;
    ControlWindow window(loop, settings, clock, services);
    window.set_log_file(&log_file);
    window.on_settings_loaded([&](const GeneralSettings& g) { log_host.update(g); });
    loop.set_handler([&](const platform::Message& m) { return window.handle(m); });

    std::optional<platform::NamedEvent> tray_event, reload_event;
    try {
        tray_event.emplace(kServiceStartedEventName);
    } catch (const std::system_error& e) {
        const char* why = system_error_text(e.code().value());
        if (mode == Mode::Service)
            log(LOG_ERROR, "Can't create systray event -- %s\n", why);
        else
            report_box(mode, "Fatal Error", strprintf("Can't create systray event -- %s", why));
        return 4;
    }
    try {
        reload_event.emplace(kReloadEventName);
    } catch (const std::system_error& e) {
        const char* why = system_error_text(e.code().value());
        if (mode == Mode::Service)
            log(LOG_ERROR, "Can't create vardeld event -- %s\n", why);
        else
            report_box(mode, "Fatal Error", strprintf("Can't create vardeld event -- %s", why));
        return 5;
    }
    loop.watch_fd(reload_event->fd(), [&] {
        if (reload_event->consume()) loop.post(WUM_RELOAD);
    });

    PipeServer pipe(
        [&](uint32_t code, const std::string& text, int slot) {
            ControlRequest r{code, text.c_str(), slot};
            loop.send(WUM_CONTROL, code, reinterpret_cast<intptr_t>(&r));
        },
        [&] {
            // Built on the control thread, which owns the state it reads.
            std::string s;
            loop.send(WUM_STATUS_TEXT, 0, reinterpret_cast<intptr_t>(&s));
            return s;
        });
    window.set_pipe_server(&pipe);
    PipeLogSink pipe_sink(pipe);
    Logger::instance().add_sink(&pipe_sink, SinkOrder::PipeSubscribers);
    const bool listening = pipe.open(platform::control_socket_path());
    if (listening) {
        loop.watch_fd(pipe.listen_fd(), [&] { pipe.accept(); });
    } else if (pipe.open_result() == platform::SeqPacketListener::Result::InUse) {
        // Two services on one root would run every backup twice.
        Logger::instance().remove_sink(&pipe_sink);
        report_box(mode == Mode::Service ? Mode::Interactive : mode, "Fatal Error",
                   "Another Vardel service is running");
        return 3;
    }

    platform::PowerEvents power;
    std::string why;
    if (power.connect(
            [&](bool sleeping) {
                loop.post(platform::WM_POWERBROADCAST,
                          sleeping ? platform::PBT_APMSUSPEND : platform::PBT_APMRESUMESUSPEND);
            },
            &why)) {
        window.set_power_events(&power);
        loop.watch_fd(power.fd(), [&] { power.process(); });
    } else {
        log(LOG_DEBUG, "No power events: %s\n", why.c_str());
    }

    if (signals) {
        loop.watch_fd(signals->fd(), [&] {
            if (signals->take()) loop.post(platform::WM_CLOSE);
        });
    }

    window.handle(platform::Message{platform::WM_CREATE, 0, 0});

    // The tray program connects when it hears this: only once something listens.
    if (listening) {
        log(LOG_DEBUG, "Pulse systray event\n");
        try {
            tray_event->set();
            std::this_thread::sleep_for(100ms);
            tray_event->reset();
        } catch (const std::system_error& e) {
            const char* why2 = system_error_text(e.code().value());
            if (mode == Mode::Service)
                log(LOG_ERROR, "Can't pulse systray event -- %s\n", why2);
            else
                report_box(mode, "Error!", strprintf("Can't pulse systray event -- %s", why2));
        }
    }
    platform::ServiceNotify::ready("Running");

    loop.run();

    platform::ServiceNotify::stopping("Stopping");
    pipe.stop();
    Logger::instance().remove_sink(&pipe_sink);
    loop.set_handler(nullptr);
    write_shut_down_line(log_file, platform::system_clock());
    return 0;
}

int run_once(const std::string& name, GeneralSettings& settings, LogFile& log_file) {
    const BackupSet* set = settings.backup_sets().find(name);
    if (!set) {
        std::fprintf(stderr, "Specified backup name (%s) not found\n", name.c_str());
        return 1;
    }
    RunFlags flags;
    platform::SignalWatch signals;
    int stop_fd[2];
    if (::pipe(stop_fd) != 0) return 1;
    std::thread watcher([&] {
        if (signals.wait(stop_fd[0]) != 0) {
            log(LOG_PROGRESS, "aborting backup...\n");
            flags.abort();
        }
    });
    BackupServices services;
    services.mail = send_service_mail;
    int result;
    bool incomplete = false;
    {
        Backup backup(*set, settings, flags, services);
        result = backup.run();
        log(LOG_INFO, "Backup %s %s %s\n", set->Name.c_str(),
            result == kResultFailed    ? "failed"
            : result == kResultAborted ? "aborted"
                                       : "completed",
            now_text().c_str());
        if (result == kResultFailed && !backup.failure_text().empty())
            std::fprintf(stderr, "%s\n", backup.failure_text().c_str());
        std::string warning = backup.completed_warning();
        if (!warning.empty()) {
            log(LOG_ALERT, "%s\n", warning.c_str());
            incomplete = true;
        }
    }
    // As after every run of the service: the log may be due to move on.
    log_file.check_after_run();
    log_file.wait_for_mailing(std::chrono::minutes(5));
    ssize_t n = ::write(stop_fd[1], "x", 1);
    (void)n;
    watcher.join();
    ::close(stop_fd[0]);
    ::close(stop_fd[1]);
    if (result == kResultFailed) return 1;
    if (result == kResultAborted) return 2;
    return incomplete ? 3 : 0;
}

// Before anything logs: the log file's name comes from the store, so a
// store that cannot be read is said here, once, on standard error (the
// journal, under systemd). A missing machine-wide store is not made here:
// only the installer and vardelreg make it.
bool settings_store_usable() {
    const std::string path = platform::suite_paths().settings_store;
    try {
        auto store = platform::RegistryStore::current();
        if (!store->exists()) {
            std::fprintf(stderr,
                         "vardeld: No settings store at %s: install Vardel first, or set "
                         "VARDEL_ROOT\n",
                         path.c_str());
            return false;
        }
        store->verify();
        return true;
    } catch (const platform::RegistryError& e) {
        std::fprintf(
            stderr, "vardeld: The settings store %s %s: %s\n", path.c_str(),
            e.kind() == platform::RegistryError::Kind::Corrupt ? "is damaged" : "cannot be read",
            e.reason().c_str());
        return false;
    }
}

void print_help() {
    std::printf(
        "Usage: vardeld [-i | --run NAME [-v]]\n"
        "  (no argument)  run as the service (under systemd)\n"
        "  -i             run interactively, every log line on standard output\n"
        "  --run NAME     run the backup set NAME now and exit: 0 completed,\n"
        "                 1 failed, 2 aborted, 3 completed but files not saved;\n"
        "                 shows lines of level INFO and above (-v: every line)\n"
        "  --help, --version\n");
}

}  // namespace

int vardeld_main(const std::vector<std::string>& args) {
    Mode mode = Mode::Service;
    std::string run_name;
    bool verbose = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help") {
            print_help();
            return 0;
        }
        if (a == "--version") {
            std::printf("vardeld %s\n", VARDEL_VERSION);
            return 0;
        }
        if (iequals(a, "-i")) {
            mode = Mode::Interactive;
        } else if (a == "--run") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                std::fprintf(stderr, "vardeld: --run needs the name of a backup set\n");
                return 2;
            }
            mode = Mode::RunOnce;
            run_name = args[++i];
        } else if (a == "-v") {
            verbose = true;
        } else {
            std::fprintf(stderr, "vardeld: unknown argument %s (try --help)\n", a.c_str());
            return 2;
        }
    }

    if (!settings_store_usable()) return 1;

    // Termination signals are taken by a descriptor, in every thread alike.
    platform::block_termination_signals();
    install_fault_translation();

    platform::MessageLoop loop;
    ServiceLogHost log_host(&loop);
    LogFile log_file(log_host);
    Logger::instance().add_sink(&log_file, SinkOrder::LogFile);
    ProgressDisplay display;
    // A run from a shell tells what a user acts on; the log keeps the rest.
    if (mode == Mode::RunOnce && !verbose) display.set_min_level(LOG_INFO);
    if (mode != Mode::Service) Logger::instance().add_sink(&display, SinkOrder::ProgressDisplay);
    struct Detach {
        ~Detach() { Logger::instance().remove_sink(file), Logger::instance().remove_sink(disp); }
        LogSink* file;
        LogSink* disp;
    } detach{&log_file, &display};

    GeneralSettings settings;
    try {
        settings.load(registry::current_store(registry::Transaction::Mode::Read),
                      skipped_set_alert);
    } catch (const MyError& e) {
        log(LOG_ERROR, "%s\n", e.message());
        log(LOG_ERROR, "Could not do service inits\n");
        if (mode != Mode::Service) std::fprintf(stderr, "vardeld: %s\n", e.message());
        return 1;
    }
    log_host.update(settings);

    std::optional<registry::Key> product;
    try {
        product = registry::open_key(registry::Root::LocalMachine, kProductKey);
    } catch (const MyError&) {
    }
    if (!product) {
        log(LOG_ERROR, "Can't read InstallDir from registry\n");
    } else {
        std::string install_dir;
        int32_t port = 0;
        try {
            install_dir = registry::read_text(*product, kInstallDirValue, "");
            port = registry::read_number(*product, kServerPortValue, 0);
        } catch (const MyError& e) {
            log(LOG_ERROR, "%s\n", e.message());
        }
        if (install_dir.empty() || port == 0) {
            log(LOG_ERROR, install_dir.empty() ? "Can't find InstallDir in registry\n"
                                               : "Can't find ServerPort in registry\n");
            log(LOG_ERROR, "Could not do program inits\n");
            return 1;
        }
    }
    product.reset();

    int code = 0;
    try {
        if (mode == Mode::RunOnce) {
            code = run_once(run_name, settings, log_file);
        } else if (mode == Mode::Interactive) {
            log(LOG_DEBUG, "Start as Interactive\n");
            platform::SignalWatch signals;
            code = main_loop(mode, settings, log_file, log_host, loop, &signals);
        } else {
            log(LOG_DEBUG, "Start as Service\n");
            log(LOG_DEBUG, "Starting Service\n");
            platform::ServiceNotify::status("Starting");
            platform::SignalWatch signals;
            int service_code = 0;
            int done_fd = ::eventfd(0, EFD_CLOEXEC);
            std::thread service([&] {
                log(LOG_DEBUG, "CallInteractiveStartup\n");
                // An error escaping here would end the process without a word.
                try {
                    service_code = main_loop(mode, settings, log_file, log_host, loop, nullptr);
                } catch (const MyError& e) {
                    log_file.write_line(
                        LOG_ERROR, strprintf("WinMain error: %d,%s\r\n", e.code(), e.message()));
                    service_code = 1;
                }
                log(LOG_DEBUG, "Exit CallInteractiveStartup\n");
                uint64_t one = 1;
                ssize_t n = ::write(done_fd, &one, sizeof one);
                (void)n;
            });
            // The main thread answers the service manager: SIGTERM is STOP.
            while (int sig = signals.wait(done_fd)) {
                if (sig == SIGTERM || sig == SIGINT) {
                    log(LOG_DEBUG, "Service control stop\n");
                    loop.post(platform::WM_CLOSE);
                    break;
                }
            }
            log(LOG_DEBUG, "Wait for ServiceThread\n");
            service.join();
            log(LOG_DEBUG, "Got thread\n");
            log(LOG_DEBUG, "Exit ServiceMain\n");
            ::close(done_fd);
            code = service_code;
            platform::ServiceNotify::status("Stopped");
            log(LOG_DEBUG, "Exited StartAsService\n");
        }
    } catch (const MyError& e) {
        log_file.write_line(LOG_ERROR,
                            strprintf("WinMain error: %d,%s\r\n", e.code(), e.message()));
        code = 1;
    }
    log(LOG_DEBUG, "Exit WinMain\n");
    log_file.close();
    return code;
}

}  // namespace vardel
