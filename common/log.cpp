#include "common/log.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "common/text_helpers.h"

namespace vardel {

namespace {

struct Attached {
    LogSink* sink;
    SinkOrder order;
};

std::recursive_mutex& log_lock() {
    static std::recursive_mutex m;
    return m;
}
std::vector<Attached>& sinks() {
    static std::vector<Attached> v;
    return v;
}
std::atomic<int> g_min_level{LOG_DEBUG};

// A fixed copy of the sink list that a signal handler may read without a lock.
constexpr size_t kMaxSignalSinks = 8;
std::atomic<LogSink*> g_signal_sinks[kMaxSignalSinks];

void mirror_for_signals() {
    size_t i = 0;
    for (const Attached& a : sinks()) {
        if (i < kMaxSignalSinks) g_signal_sinks[i++].store(a.sink);
    }
    for (; i < kMaxSignalSinks; ++i) g_signal_sinks[i].store(nullptr);
}

}  // namespace

const char* level_name(int level) {
    static const char* const names[] = {"DEBUG     ", "PROGRESS  ", "INFO      ",
                                        "ALERT     ", "COMPLAIN  ", "ERROR     "};
    if (level < 0 || level > 5) return "UNKNOWN   ";
    return names[level];
}

std::string to_crlf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

Logger& Logger::instance() {
    static Logger logger;
    return logger;
}

void Logger::add_sink(LogSink* sink, SinkOrder order) {
    std::lock_guard lock(log_lock());
    auto& v = sinks();
    auto at = std::find_if(v.begin(), v.end(), [&](const Attached& a) { return a.order > order; });
    v.insert(at, Attached{sink, order});
    mirror_for_signals();
}

void Logger::remove_sink(LogSink* sink) {
    std::lock_guard lock(log_lock());
    auto& v = sinks();
    v.erase(std::remove_if(v.begin(), v.end(), [&](const Attached& a) { return a.sink == sink; }),
            v.end());
    mirror_for_signals();
}

void Logger::set_min_level(int level) {
    g_min_level.store(level);
}
int Logger::min_level() const {
    return g_min_level.load();
}

void Logger::vlog(int level, const char* fmt, va_list ap) {
    if (level < g_min_level.load()) return;
    std::lock_guard lock(log_lock());
    std::string text = to_crlf(vstrprintf(fmt, ap));
    for (const Attached& a : std::vector<Attached>(sinks())) a.sink->write_line(level, text);
}

void Logger::batch(bool on) {
    std::lock_guard lock(log_lock());
    for (const Attached& a : sinks()) a.sink->batch(on);
}

void Logger::log(int level, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vlog(level, fmt, ap);
    va_end(ap);
}

void Logger::log_text(int level, std::string_view text) {
    if (level < g_min_level.load()) return;
    std::lock_guard lock(log_lock());
    std::string crlf = to_crlf(text);
    for (const Attached& a : std::vector<Attached>(sinks())) a.sink->write_line(level, crlf);
}

void Logger::write_signal_safe(const char* line, size_t len) noexcept {
    for (auto& slot : g_signal_sinks) {
        if (LogSink* s = slot.load()) s->write_signal_safe(line, len);
    }
}

std::unique_lock<std::recursive_mutex> Logger::hold() {
    return std::unique_lock<std::recursive_mutex>(log_lock());
}

void log(int level, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    Logger::instance().vlog(level, fmt, ap);
    va_end(ap);
}

}  // namespace vardel
