#include "common/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>

#include "common/install_layout.h"
#include "common/mystring.h"
#include "common/text_helpers.h"
#include "platform/accounts.h"
#include "platform/file_info.h"
#include "platform/paths.h"

namespace vardel {

namespace {
// Trace lines held back while batching, at most.
constexpr size_t kHeldLimit = 64u << 10;
}  // namespace

LogFile::LogFile(LogFileHost& host, const platform::Clock& clock) : host_(host), clock_(clock) {}

LogFile::~LogFile() {
    if (mailer_.joinable()) mailer_.join();
    platform::RecursiveMutexLock lock(file_lock_);
    close_locked();
}

std::string LogFile::work_out_path() {
    int64_t cycle = 0;
    if (!host_.read_current_cycle(cycle)) return std::string();
    return path_of(host_.log_settings().log_file_path, cycle);
}

std::string LogFile::path_of(std::string_view log_file_path, int64_t cycle) {
    std::string folder(log_file_path);
    if (folder.empty()) {
        // Unset: beside the settings store, rather than the root folder.
        std::string store = platform::suite_paths().settings_store;
        folder = store.substr(0, store.rfind('/') + 1) + "logs";
    }
    if (folder.back() != '/') folder += '/';
    return folder + strprintf("LOG_%lld.txt", static_cast<long long>(cycle));
}

bool LogFile::ensure_open_locked() {
    if (fd_.load() >= 0) return true;
    // Reading the store may log (a damaged store says why), and that line
    // comes back here: it is dropped rather than sent round again.
    if (working_out_) return false;
    // Worked out at each opening, so that a cycle made by the editor (a
    // new "CurrentCycle") is followed rather than the old file written on;
    // during a cycle of our own the old file takes the lines until the
    // mailing thread has cleared the new one.
    if (!own_cycle_pending_ || log_path_.empty()) {
        working_out_ = true;
        std::string path = work_out_path();
        working_out_ = false;
        if (!path.empty()) log_path_ = path;
    }
    if (log_path_.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(log_path_).parent_path(), ec);
    // Never through a link planted in the log folder; the log names every
    // file backed up, so it is for its owner alone, or for the group that
    // may control the service where there is one.
    int fd = ::open(log_path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;  // lines are dropped until the next attempt
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid()) {
        std::optional<unsigned> group = platform::group_id(install::kControlGroup);
        if (group && ::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(*group)) == 0)
            ::fchmod(fd, 0640);
        else
            ::fchmod(fd, 0600);
    }
    fd_.store(fd);
    return true;
}

void LogFile::close_locked() {
    write_held_locked({});
    int fd = fd_.exchange(-1);
    if (fd >= 0) {
        ::fdatasync(fd);
        ::close(fd);
    }
}

void LogFile::write_line(int level, std::string_view text) {
    platform::RecursiveMutexLock lock(file_lock_);
    if (batching_ && level < LOG_INFO) {
        held_ += level_name(level);
        held_ += text;
        if (held_.size() < kHeldLimit) return;
        write_held_locked({});
        return;
    }
    std::string line = std::string(level_name(level)) + std::string(text);
    write_held_locked(line);
}

void LogFile::write_held_locked(std::string_view line) {
    if (held_.empty() && line.empty()) return;
    if (!ensure_open_locked()) {
        held_.clear();
        return;
    }
    ssize_t n;
    if (held_.empty()) {
        n = ::write(fd_.load(), line.data(), line.size());
    } else {
        held_ += line;
        n = ::write(fd_.load(), held_.data(), held_.size());
        held_.clear();
    }
    (void)n;  // a failed log write cannot be logged
}

void LogFile::batch(bool on) {
    platform::RecursiveMutexLock lock(file_lock_);
    batching_ = on;
    if (!on) write_held_locked({});
}

void LogFile::write_signal_safe(const char* line, size_t len) noexcept {
    int fd = fd_.load();
    if (fd >= 0) {
        ssize_t n = ::write(fd, line, len);
        (void)n;
        ::fdatasync(fd);
    }
}

void LogFile::close() {
    platform::RecursiveMutexLock lock(file_lock_);
    close_locked();
}

std::string LogFile::log_path() const {
    platform::RecursiveMutexLock lock(file_lock_);
    return log_path_;
}

void LogFile::check_after_run() {
    // The caller (the service's control thread) must go on answering: a
    // mailing thread still at work leaves the check to the next run.
    if (!wait_for_mailing(std::chrono::milliseconds(0))) {
        close();
        log(LOG_DEBUG, "Old log still being mailed: no cycle check\n");
        return;
    }
    auto log_lock = Logger::instance().hold();
    platform::RecursiveMutexLock lock(file_lock_);
    close_locked();
    if (log_path_.empty()) return;
    platform::FileInfo fi;
    if (!platform::stat_path(log_path_, fi)) return;
    int64_t created_sec, created_ns;
    platform::unix_from_filetime(fi.times.creation, created_sec, created_ns);
    int64_t age = clock_.now() - created_sec;
    LogFileSettings s = host_.log_settings();
    if (age > s.cycle_log_days * 86400) {
        log(LOG_DEBUG, "Old log needs to be cycled\n");
        cycle_locked();
    } else if (static_cast<int64_t>(fi.size) > s.cycle_log_size * 1024) {
        log(LOG_DEBUG, "Log exceeds allowed size\n");
        cycle_locked();
    }
}

void LogFile::cycle() {
    wait_for_mailing(std::chrono::minutes(5));
    auto log_lock = Logger::instance().hold();
    platform::RecursiveMutexLock lock(file_lock_);
    cycle_locked();
}

void LogFile::cycle_locked() {
    std::string old_path = log_path_;
    close_locked();
    int64_t cycle = 0;
    if (!host_.read_current_cycle(cycle)) {
        log(LOG_COMPLAIN, "Can't open registry entry for Cycle\n");
        return;
    }
    int64_t keep = host_.log_settings().keep_n_logs;
    host_.write_current_cycle(cycle + 1 < keep ? cycle + 1 : 0);
    own_cycle_pending_ = true;
    log(LOG_INFO, "Cycle old log %s\n", old_path.c_str());

    // One mailing thread at a time: callers waited for the earlier one.
    if (mailer_.joinable()) {
        if (!wait_for_mailing(std::chrono::milliseconds(0))) return;
    }
    {
        platform::MutexLock l(mail_mutex_);
        mailing_ = true;
    }
    mailer_ = std::thread([this, old_path] { mailing_thread(old_path); });
}

void LogFile::mailing_thread(const std::string& old_path) {
    LogFileSettings s = host_.log_settings();
    if (s.mail_old_log) {
        MyString text;
        if (!text.read_text_file(old_path)) {
            log(LOG_COMPLAIN, "Can't load log for mailing: %s\n", old_path.c_str());
        } else {
            std::string error;
            if (host_.mail_log(s.mail_log_email, text.str(), error))
                log(LOG_DEBUG, "Log emailed\n");
            else
                log(LOG_COMPLAIN, "Can't mail log %s: %s\n", old_path.c_str(), error.c_str());
        }
    }
    {
        auto log_lock = Logger::instance().hold();
        platform::RecursiveMutexLock lock(file_lock_);
        close_locked();
        log_path_ = work_out_path();
        own_cycle_pending_ = false;
        if (!log_path_.empty()) ::unlink(log_path_.c_str());
        log(LOG_DEBUG, "Create new log %s\n", log_path_.c_str());
    }
    {
        platform::MutexLock l(mail_mutex_);
        mailing_ = false;
    }
    mail_cv_.notify_all();
    host_.log_cycled();
}

bool LogFile::wait_for_mailing(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    {
        platform::MutexLock l(mail_mutex_);
        while (mailing_)
            if (mail_mutex_.wait_until(mail_cv_, deadline) == std::cv_status::timeout && mailing_)
                return false;
    }
    if (mailer_.joinable() && mailer_.get_id() != std::this_thread::get_id()) mailer_.join();
    return true;
}

}  // namespace vardel
