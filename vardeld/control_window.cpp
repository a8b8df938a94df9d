#include "vardeld/control_window.h"

#include <unistd.h>

#include "common/log.h"
#include "common/my_error.h"
#include "common/pipe_record.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"
#include "platform/service_notify.h"
#include "vardeld/pipe_server.h"

namespace vardel {

using platform::Message;

ControlWindow::ControlWindow(platform::MessageLoop& loop, GeneralSettings& settings,
                             LocalClock& clock, BackupServices services, const platform::Env& env)
    : loop_(loop),
      settings_(settings),
      clock_(clock),
      services_(std::move(services)),
      env_(env),
      scheduler_(loop, clock, state_) {}

ControlWindow::~ControlWindow() {
    flags_.abort();
    if (backup_thread_.joinable()) {
        if (wait_for_backup(std::chrono::milliseconds(5000)))
            backup_thread_.join();
        else
            backup_thread_.detach();
    }
}

void ControlWindow::push(uint32_t code, const std::string& text) {
    if (pipe_) pipe_->push_registered(code, text);
}

void ControlWindow::reply(int slot, uint32_t code, const std::string& text) {
    if (pipe_ && slot >= 0) pipe_->send_to_slot(slot, code, text);
}

intptr_t ControlWindow::handle(const Message& m) {
    switch (m.msg) {
        case platform::WM_CREATE:
            on_create();
            return 0;
        case platform::WM_CLOSE:
            on_close();
            return 0;
        case platform::WM_TIMER:
            on_timer(m.wparam);
            return 0;
        case platform::WM_POWERBROADCAST:
            return on_power(m.wparam);
        case WUM_RELOAD:
            on_reload();
            return 0;
        case WUM_CONTROL:
            if (m.lparam) on_control(*reinterpret_cast<const ControlRequest*>(m.lparam));
            return 0;
        case WUM_BACKUP_DONE:
            on_backup_done(static_cast<int>(m.wparam), reinterpret_cast<std::string*>(m.lparam));
            return 0;
        case WUM_STATUS_TEXT:
            if (m.lparam) *reinterpret_cast<std::string*>(m.lparam) = status_text();
            return 0;
        case WUM_LOG_CYCLED:
            if (log_file_) log_file_->wait_for_mailing(std::chrono::milliseconds(5000));
            return 0;
        default:
            return 0;
    }
}

void ControlWindow::on_create() {
    state_.enabled = true;
    if (settings_loaded_) settings_loaded_(settings_);
    scheduler_.schedule_all(settings_);
}

void ControlWindow::on_close() {
    log(LOG_DEBUG, "Call StopService\n");
    stop_service();
    log(LOG_DEBUG, "Posting a QuitMessage\n");
    loop_.post_quit(0);
}

void ControlWindow::on_timer(uintptr_t id) {
    if (id == kStartTimer) {
        if (state_.running) {
            log(LOG_ERROR, "Attempt to start a backup while another one is in progress\n");
            loop_.kill_timer(kStartTimer);
            return;
        }
        loop_.kill_timer(kStartTimer);
        flags_.clear_abort();
        start_head();
    } else if (id == kWarnTimer) {
        loop_.kill_timer(kWarnTimer);
        if (const QueueEntry* h = scheduler_.head())
            push(PIPE_INFO,
                 strprintf("Backup '%s' starts in %d seconds", h->set->Name.c_str(), 20));
    }
}

intptr_t ControlWindow::on_power(uintptr_t event) {
    switch (event) {
        case platform::PBT_APMQUERYSUSPEND:
            log(LOG_DEBUG, "Suspend/Hibernate request received\n");
            if (!state_.running) return 1;
            log(LOG_INFO, "Backup is in progress. Refuse to hibernate\n");
            push(PIPE_ALERT,
                 strprintf("Can't suspend. Backup '%s' in progress", state_.running_set.c_str()));
            return platform::BROADCAST_QUERY_DENY;
        case platform::PBT_APMSUSPEND:
            log(LOG_DEBUG, "Suspending...\n");
            scheduler_.kill_timers();
            return 1;
        case platform::PBT_APMRESUMESUSPEND:
            scheduler_.kill_timers();
            log(LOG_INFO, "Resuming from hibernate or suspend. Schedule recalculated\n");
            on_reload();
            return 1;
        default:
            return 1;
    }
}

void ControlWindow::on_reload() {
    // The editor may have cycled the log ("CurrentCycle") or moved it: the
    // next line opens the file the store names now.
    if (log_file_) log_file_->close();
    log(LOG_DEBUG, "Reload settings\n");
    try {
        settings_.load(registry::current_store(registry::Transaction::Mode::Read),
                       skipped_set_alert);
    } catch (const MyError& e) {
        // The settings in use stay; the schedule is still worked out afresh.
        log(LOG_ERROR, "Can't reload settings: %s\n", e.message());
    }
    if (settings_loaded_) settings_loaded_(settings_);
    scheduler_.reschedule(settings_);
}

void ControlWindow::on_control(const ControlRequest& r) {
    std::string text = r.text ? r.text : "";
    log(LOG_DEBUG, "got wum_message %d:%s\n", static_cast<int>(r.code), text.c_str());
    switch (r.code) {
        case PIPE_SHUT_DOWN:
            log(LOG_DEBUG, "Shut down service\n");
            loop_.post(platform::WM_CLOSE);
            break;
        case PIPE_DISABLE:
            if (state_.enabled) {
                log(LOG_INFO, "Disable service\n");
                state_.enabled = false;
                scheduler_.kill_timers();
            } else {
                log(LOG_COMPLAIN, "Service already disabled\n");
            }
            break;
        case PIPE_ENABLE:
            if (state_.enabled) {
                log(LOG_COMPLAIN, "Service already enabled!\n");
            } else {
                log(LOG_INFO, "Enable service\n");
                state_.enabled = true;
                scheduler_.drop_scheduled();
                scheduler_.schedule_all(settings_);
            }
            break;
        case PIPE_RUN_SET:
            if (state_.running)
                log(LOG_INFO, "Queue manual backup %s at %s\n", text.c_str(),
                    now_text(clock_.clock()).c_str());
            scheduler_.queue_manual(text, settings_);
            break;
        case PIPE_PAUSE:
            log(LOG_DEBUG, "Received PAUSE BACKUP command\n");
            flags_.pause(true);
            if (state_.running) {
                reply(r.slot, PIPE_ALERT,
                      strprintf("Pausing backup %s", state_.running_set.c_str()));
                log(LOG_PROGRESS, "Pausing backup...\n");
            } else {
                reply(r.slot, PIPE_ALERT, "Next backup will pause");
                log(LOG_INFO, "Next backup will pause\n");
            }
            break;
        case PIPE_RESUME:
            log(LOG_DEBUG, "Received RESUME BACKUP command\n");
            if (state_.running) {
                reply(r.slot, PIPE_INFO,
                      strprintf("Resuming backup %s", state_.running_set.c_str()));
                log(LOG_PROGRESS, "Resuming backup...\n");
            } else {
                reply(r.slot, PIPE_INFO, "Next backup will proceed as scheduled");
                log(LOG_INFO, "Next backup will proceed as scheduled\n");
            }
            // Cleared after the line, so the log never shows the run going on
            // before the resume that let it.
            flags_.pause(false);
            break;
        case PIPE_STOP:
            log(LOG_DEBUG, "Received STOP BACKUP command\n");
            if (state_.running) {
                reply(r.slot, PIPE_ALERT,
                      strprintf("Aborting backup %s", state_.running_set.c_str()));
                log(LOG_PROGRESS, "aborting backup...\n");
                flags_.abort();
                flags_.pause(false);
            } else {
                reply(r.slot, PIPE_ALERT, "No backup in progress");
                log(LOG_COMPLAIN, "No backup in progress\n");
            }
            break;
        default:
            log(LOG_ERROR, "Unknown message\n");
            break;
    }
}

void ControlWindow::start_head() {
    QueueEntry* head = scheduler_.startable_head();
    if (!head) {
        scheduler_.arm_timers(settings_);
        return;
    }
    const BackupSet set = *head->set;
    log(LOG_DEBUG, "Starting backup %s. Send message\n", set.Name.c_str());
    push(PIPE_BACKUP_STARTING, set.Name);
    state_.running = true;
    state_.running_set = set.Name;
    if (power_) power_->inhibit(strprintf("Backup '%s' in progress", set.Name.c_str()));
    if (backup_thread_.joinable()) backup_thread_.join();
    {
        std::lock_guard l(done_mutex_);
        backup_ended_ = false;
    }
    try {
        GeneralSettings general = settings_;
        backup_thread_ = std::thread([this, set, general] {
            int result = kResultFailed;
            std::string* failure = nullptr;
            try {
                Backup backup(set, general, flags_, services_, env_);
                result = backup.run();
                if (result == kResultFailed) failure = new std::string(backup.failure_text());
                // Completed without every file: the warning goes with it.
                std::string warning = backup.completed_warning();
                if (!warning.empty()) failure = new std::string(warning);
            } catch (const std::exception& e) {  // MyError too
                log(LOG_ERROR, "Backup thread failed: %s\n", e.what());
                failure = new std::string(e.what());
            }
            {
                std::lock_guard l(done_mutex_);
                backup_ended_ = true;
            }
            done_cv_.notify_all();
            loop_.post(WUM_BACKUP_DONE, static_cast<uintptr_t>(result),
                       reinterpret_cast<intptr_t>(failure));
        });
    } catch (const std::system_error&) {
        log(LOG_ERROR, "Backup thread failed!\n");
        {
            std::lock_guard l(done_mutex_);
            backup_ended_ = true;
        }
        loop_.post(WUM_BACKUP_DONE, kResultFailed, reinterpret_cast<intptr_t>(new std::string()));
    }
}

bool ControlWindow::wait_for_backup(std::chrono::milliseconds timeout) {
    std::unique_lock l(done_mutex_);
    return done_cv_.wait_for(l, timeout, [&] { return backup_ended_; });
}

void ControlWindow::on_backup_done(int result, std::string* failure) {
    std::unique_ptr<std::string> text(failure);
    const char* name = result == kResultFailed    ? "failed"
                       : result == kResultAborted ? "aborted"
                                                  : "completed";
    log(LOG_INFO, "Backup %s %s %s\n", state_.running_set.c_str(), name,
        now_text(clock_.clock()).c_str());
    if (result == kResultFailed)
        push(PIPE_BACKUP_FAILED, text ? *text : std::string());
    else if (result == kResultAborted)
        push(PIPE_BACKUP_ABORTED, state_.running_set);
    else
        push(PIPE_BACKUP_COMPLETED, state_.running_set);
    // "completed, but %d files could not be saved": clients show it as an
    // alert after the notice, whose text stays the set's name.
    if (result == kResultCompleted && text && !text->empty()) {
        log(LOG_ALERT, "%s\n", text->c_str());
        push(PIPE_ALERT, *text);
    }
    state_.running = false;
    if (power_) power_->release_inhibitor();
    if (backup_thread_.joinable()) {
        if (wait_for_backup(std::chrono::milliseconds(5000)))
            backup_thread_.join();
        else
            log(LOG_DEBUG, "Thread wait timed out\n");
    }
    flags_.clear();
    if (log_file_) log_file_->check_after_run();
    scheduler_.finished(settings_);
}

void skipped_set_alert(const std::string& name, const std::string& why) {
    log(LOG_ALERT, "Backup set '%s' is left out until it is mended: %s\n", name.c_str(),
        why.c_str());
}

void write_shut_down_line(LogFile& log_file, const platform::Clock& clock) {
    log_file.write_line(LOG_INFO, strprintf("Vardeld shut down %s\r\n", now_text(clock).c_str()));
}

void ControlWindow::stop_service() {
    log(LOG_DEBUG, "Stop Service\n");
    // systemd hears of the stop now, not after the wait for the backup.
    platform::ServiceNotify::stopping("Stopping");
    flags_.abort();
    if (!state_.running) return;
    log(LOG_DEBUG, "Shutting down backup thread\n");
    if (wait_for_backup(std::chrono::milliseconds(5000))) {
        if (backup_thread_.joinable()) backup_thread_.join();
        log(LOG_DEBUG, "Thread terminated normally\n");
        return;
    }
    // A thread cannot be killed safely here: the process ends instead, once
    // the log is on disk. The run's output stays unrecorded in BACKUP.INI,
    // so the next run reuses the slot.
    log(LOG_DEBUG, "Thread wait timed out in StopService\n");
    log(LOG_DEBUG, "Thread terminated with prejudice\n");
    if (log_file_) {
        write_shut_down_line(*log_file_, clock_.clock());
        log_file_->close();
    }
    ::_exit(0);
}

std::string ControlWindow::status_text() {
    std::string s = strprintf("1\r\n%s\r\n%s\r\n", kProductName, kProductVersion) +
                    computer_name() + "\r\n\r\n\r\n";
    s += state_.enabled ? "1\r\n" : "0\r\n";
    s += state_.running ? "1\r\n" : "0\r\n";
    s += (state_.running ? state_.running_set : std::string("<none>")) + "\r\n";
    if (!state_.running) {
        if (const QueueEntry* h = scheduler_.head())
            s += strprintf("Next backup: '%s' at %s", h->set->Name.c_str(),
                           local_seconds_text(h->due).c_str());
        else
            s += "No backups scheduled";
    }
    return s;
}

}  // namespace vardel
