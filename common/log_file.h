#pragma once
// The service's log files: "LOG_%d.txt" in "LogFilePath", numbered by the
// product key's "CurrentCycle", rotating through "KeepNLogs" files after a
// run when the file is too old or too large, the old file optionally mailed
// by a thread of its own.
//
// Each line is one write() of the level name and the text, straight to the
// file without buffering in the process, so a crash loses no line already
// logged. During a backup (batch on) lines below INFO are gathered, up to
// 64 KiB, and written with the next line of INFO or above, the end of the
// batch or the close: a crash may lose that much of the trace, never a line
// of INFO or above. The file is synced (fdatasync) after each run and at
// close.
//
// Locks: the log lock (Logger::hold) is always taken before the log-file
// lock; the check after a run takes both in that order before it logs.
// Thread-safe; the mailing thread is joined by wait_for_mailing or the
// destructor.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "common/log.h"
#include "platform/clock.h"
#include "platform/thread_annotations.h"

namespace vardel {

struct LogFileSettings {
    std::string log_file_path;  // folder of the log files
    int64_t cycle_log_days = 7;
    int64_t cycle_log_size = 100;  // kilobytes
    int64_t keep_n_logs = 3;
    bool mail_old_log = false;
    std::string mail_log_email;
};

// What the log file needs from the rest of the service.
class LogFileHost {
  public:
    virtual ~LogFileHost() = default;
    virtual LogFileSettings log_settings() = 0;
    // "CurrentCycle" under the product key; false when the key cannot be opened.
    virtual bool read_current_cycle(int64_t& cycle) = 0;
    virtual bool write_current_cycle(int64_t cycle) = 0;
    // Mails `body` to `to` with subject "Completed Log"; false with the
    // mailer's error text.
    virtual bool mail_log(const std::string& to, const std::string& body, std::string& error) = 0;
    // Called by the mailing thread when its work is done (the service posts
    // WUM_LOG_CYCLED, whose handler calls wait_for_mailing).
    virtual void log_cycled() = 0;
};

class LogFile : public LogSink {
  public:
    explicit LogFile(LogFileHost& host, const platform::Clock& clock = platform::system_clock());
    ~LogFile() override;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // The log call's sink: the level name and the text.
    void write_line(int level, std::string_view text) override;
    void write_signal_safe(const char* line, size_t len) noexcept override;
    void batch(bool on) override;

    // After a run: close, then cycle when older than "CycleLogDays" days or
    // larger than "CycleLogSize" kilobytes. Syncs the file first. Never waits
    // for a mailing thread: while one runs, only closes.
    void check_after_run();
    // Moves on to the next file and starts the mailing thread.
    void cycle();
    // Syncs and closes; the next line opens the file again, the one that
    // "CurrentCycle" names then.
    void close();
    // Waits for the mailing thread; true when it has ended (or none runs).
    bool wait_for_mailing(std::chrono::milliseconds timeout);

    // The path in use, empty until worked out.
    std::string log_path() const;

    // The file of log number `cycle` in the folder `log_file_path`
    // ("LogFilePath"; unset, a folder "logs" beside the settings store).
    static std::string path_of(std::string_view log_file_path, int64_t cycle);

  private:
    bool ensure_open_locked() REQUIRES(file_lock_);
    void close_locked() REQUIRES(file_lock_);
    // Writes what batching held back, then `line` (may be empty).
    void write_held_locked(std::string_view line) REQUIRES(file_lock_);
    // The log lock held too.
    void cycle_locked() REQUIRES(file_lock_);
    std::string work_out_path();
    void mailing_thread(const std::string& old_path);

    LogFileHost& host_;
    const platform::Clock& clock_;
    // Taken again by its holder when it logs.
    mutable platform::RecursiveMutex file_lock_;
    std::string log_path_ GUARDED_BY(file_lock_);
    bool working_out_ GUARDED_BY(file_lock_) = false;        // reading the store for the path
    bool own_cycle_pending_ GUARDED_BY(file_lock_) = false;  // cycled, new file not yet cleared
    std::atomic<int> fd_{-1};  // written under file_lock_; read alone by the signal handler
    bool batching_ GUARDED_BY(file_lock_) = false;
    std::string held_ GUARDED_BY(file_lock_);  // lines gathered while batching

    std::thread mailer_;  // started by cycle_locked(), joined by wait_for_mailing()
    platform::Mutex mail_mutex_;
    std::condition_variable mail_cv_;
    bool mailing_ GUARDED_BY(mail_mutex_) = false;
};

}  // namespace vardel
