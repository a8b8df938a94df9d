#pragma once
// The service's single point of control: the window procedure of its hidden
// main window. Scheduler timers, requests from socket clients, the end of a
// backup, the reload signal and power events all arrive here as messages
// and are handled one at a time on the control thread.
//
// The backup thread works on its own copy of its set and reads only the
// abort and pause flags, which this class alone writes.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/general_settings.h"
#include "common/local_clock.h"
#include "common/log_file.h"
#include "platform/message_loop.h"
#include "platform/power_events.h"
#include "vardeld/backup.h"
#include "vardeld/run_flags.h"
#include "vardeld/scheduler.h"
#include "vardeld/service_messages.h"

namespace vardel {

class PipeServer;

// The service's last line, "Vardeld shut down <time>", straight to the log file
// (sinks may be gone by then).
void write_shut_down_line(LogFile& log_file, const platform::Clock& clock);
// The service's word on a set it left out of a load (a value of the wrong
// type): an ALERT naming the set and the value; the other sets run.
void skipped_set_alert(const std::string& name, const std::string& why);

class ControlWindow {
  public:
    // Called when the settings were (re)loaded, so others (the log file's
    // host) can take what they need.
    using SettingsLoaded = std::function<void(const GeneralSettings&)>;

    // Runs take `env` (the real system unless a test fakes it).
    ControlWindow(platform::MessageLoop& loop, GeneralSettings& settings, LocalClock& clock,
                  BackupServices services, const platform::Env& env = platform::Env::real());
    ~ControlWindow();
    ControlWindow(const ControlWindow&) = delete;
    ControlWindow& operator=(const ControlWindow&) = delete;

    void set_pipe_server(PipeServer* server) { pipe_ = server; }
    void set_log_file(LogFile* file) { log_file_ = file; }
    void set_power_events(platform::PowerEvents* power) { power_ = power; }
    void on_settings_loaded(SettingsLoaded fn) { settings_loaded_ = std::move(fn); }

    // The window procedure.
    intptr_t handle(const platform::Message& m);

    // The status text of ten lines, built on the control thread.
    std::string status_text();

    const ServiceState& state() const { return state_; }
    Scheduler& scheduler() { return scheduler_; }
    RunFlags& flags() { return flags_; }

  private:
    void on_create();
    void on_close();
    void on_timer(uintptr_t id);
    intptr_t on_power(uintptr_t event);
    void on_reload();
    void on_control(const ControlRequest& r);
    void on_backup_done(int result, std::string* failure);
    void start_head();
    void stop_service();
    // Waits for the backup thread; true when it ended in time.
    bool wait_for_backup(std::chrono::milliseconds timeout);
    void push(uint32_t code, const std::string& text);
    void reply(int slot, uint32_t code, const std::string& text);

    platform::MessageLoop& loop_;
    GeneralSettings& settings_;
    LocalClock& clock_;
    BackupServices services_;
    const platform::Env& env_;
    ServiceState state_;
    Scheduler scheduler_;
    RunFlags flags_;
    PipeServer* pipe_ = nullptr;
    LogFile* log_file_ = nullptr;
    platform::PowerEvents* power_ = nullptr;
    SettingsLoaded settings_loaded_;

    std::thread backup_thread_;
    std::mutex done_mutex_;
    std::condition_variable done_cv_;
    bool backup_ended_ = true;
};

}  // namespace vardel
