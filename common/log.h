#pragma once
// The log call: level, printf-style text. A line below the minimum level is
// dropped; every "\n" becomes "\r\n"; the finished line goes to each attached
// sink in order: the log file, the control socket's subscribers, the progress
// display. One process-wide lock serialises the call (a thread holding it may
// log again, e.g. a sink that logs).
#include <cstdarg>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace vardel {

enum LogLevel : int {
    LOG_DEBUG = 0,
    LOG_PROGRESS = 1,
    LOG_INFO = 2,
    LOG_ALERT = 3,
    LOG_COMPLAIN = 4,
    LOG_ERROR = 5,
};

// The 10-character name that starts every line in a log file ("DEBUG     ").
const char* level_name(int level);

// "\n" -> "\r\n"; a "\r\n" already there is kept as it is.
std::string to_crlf(std::string_view text);

class LogSink {
  public:
    virtual ~LogSink() = default;
    // Called with the log lock held; `text` already has CR LF line ends.
    virtual void write_line(int level, std::string_view text) = 0;
    // Called from a fault handler with a finished line (level name included):
    // only async-signal-safe calls allowed (write(2)). Default: the sink is
    // not safe there and drops the line.
    virtual void write_signal_safe(const char* /*line*/, size_t /*len*/) noexcept {}
    // While on, the sink may hold back lines below INFO and write them
    // together with a later line; off writes what it holds. Called with the
    // log lock held.
    virtual void batch(bool /*on*/) {}
};

// Where a sink stands in the fan-out; lower goes first.
enum class SinkOrder { LogFile = 0, PipeSubscribers = 1, ProgressDisplay = 2, Other = 3 };

class Logger {
  public:
    static Logger& instance();

    // The sink must outlive its attachment; remove it before destroying it.
    void add_sink(LogSink* sink, SinkOrder order);
    void remove_sink(LogSink* sink);
    void set_min_level(int level);
    int min_level() const;

    void log(int level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    void vlog(int level, const char* fmt, va_list ap);
    // An already formatted text (still given its CR LF ends).
    void log_text(int level, std::string_view text);

    // From a fault handler: hands a finished line (level name included) to
    // every sink's signal-safe path.
    void write_signal_safe(const char* line, size_t len) noexcept;

    // Lets sinks gather trace lines below INFO (a backup's per-file lines)
    // until `batch(false)`.
    void batch(bool on);

    // Holds the log lock. Code that takes another lock and then logs (the log
    // file's check after a run) takes this one first, so the two locks are
    // always taken in the same order: log lock, then the other.
    std::unique_lock<std::recursive_mutex> hold();

  private:
    Logger() = default;
};

// Logger::instance().log(...)
void log(int level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace vardel
