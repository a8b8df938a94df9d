#include "common/text_helpers.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/log.h"

namespace vardel {

std::string vstrprintf(const char* fmt, va_list ap) {
    char small[512];
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, n);
    std::string out(static_cast<size_t>(n), '\0');
    std::vsnprintf(out.data(), out.size() + 1, fmt, ap);
    return out;
}

std::string strprintf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = vstrprintf(fmt, ap);
    va_end(ap);
    return s;
}

const char* format_text(const char* fmt, ...) {
    // Per-thread, so two threads formatting at once never share a buffer.
    static thread_local std::array<std::string, 99> ring;
    static thread_local size_t next = 0;
    std::string& slot = ring[next];
    next = (next + 1) % ring.size();
    va_list ap;
    va_start(ap, fmt);
    slot = vstrprintf(fmt, ap);
    va_end(ap);
    return slot.c_str();
}

const char* system_error_text(int error_number) {
    static thread_local char buf[128];
    // GNU strerror_r may return a static string instead of filling buf.
    const char* text = strerror_r(error_number, buf, sizeof buf);
    if (text != buf) {
        std::snprintf(buf, sizeof buf, "%s", text);
    }
    return buf;
}

const char* system_error_text() {
    return system_error_text(errno);
}

namespace {

std::string tm_text(const struct tm& tm) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return strprintf(" %s %s %02d %04d %02d:%02d:%02d", days[tm.tm_wday], months[tm.tm_mon],
                     tm.tm_mday, tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

}  // namespace

std::string date_time_text(int64_t seconds) {
    if (seconds == 0) return "--";
    time_t t = static_cast<time_t>(seconds);
    struct tm tm;
    if (!localtime_r(&t, &tm)) return "--";
    return tm_text(tm);
}

std::string local_seconds_text(int64_t local) {
    if (local == 0) return "--";
    time_t t = static_cast<time_t>(local);
    struct tm tm;
    if (!gmtime_r(&t, &tm)) return "--";
    return tm_text(tm);
}

std::string ctime_text(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    char buf[64];
    if (!ctime_r(&t, buf)) return "\n";
    return buf;
}

std::string now_text(const platform::Clock& clock) {
    return date_time_text(clock.now());
}

std::string_view file_name_part(std::string_view path) {
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view folder_part(std::string_view path) {
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

std::string computer_name() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return std::string();
    std::string name(buf);
    if (name.size() > 30) name.resize(30);
    return name;
}

void unexpected_switch(const char* file, int line) {
    log(LOG_ERROR, "Unexpected switch at %s:%d\n", file, line);
}

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

int icompare(std::string_view a, std::string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(ascii_lower(a[i]));
        unsigned char y = static_cast<unsigned char>(ascii_lower(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && icompare(a, b) == 0;
}

}  // namespace vardel
