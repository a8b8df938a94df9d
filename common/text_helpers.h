#pragma once
// Small text helpers shared by every program: printf-style formatting, the
// system's error texts, date text, path parts and the computer's name.
#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace vardel {

// printf-style into a std::string of whatever length the text needs.
std::string strprintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string vstrprintf(const char* fmt, va_list ap);

// printf-style into one of 99 buffers used in turn; the result stays valid
// until 99 further calls on the same thread (each thread has its own ring).
const char* format_text(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The system's message for an error number (errno), at most 127 characters.
// The result lives in a per-thread buffer until the next call.
const char* system_error_text(int error_number);
// The same for the calling thread's errno.
const char* system_error_text();

// " Sun Jan 05 2025 14:03:09" (local time, leading blank), or "--" for 0.
std::string date_time_text(int64_t seconds_since_1970);
std::string now_text(const platform::Clock& clock = platform::system_clock());
// The same text for local seconds (taken apart as UTC: the local wall clock).
std::string local_seconds_text(int64_t local_seconds);
// The system's 24-character form "Www Mmm dd hh:mm:ss yyyy" with its line feed.
std::string ctime_text(int64_t seconds_since_1970);

// The file-name part: the text after the last "/" (the whole text when there
// is none). ":" is an ordinary character in Linux names.
std::string_view file_name_part(std::string_view path);
// The folder part: up to and including the last "/" (empty when none).
std::string_view folder_part(std::string_view path);

// The host name, at most 30 characters.
std::string computer_name();

// Logs "Unexpected switch at %s:%d\n" at level ERROR; the caller goes on.
void unexpected_switch(const char* file, int line);
#define VARDEL_UNEXPECTED_SWITCH() ::vardel::unexpected_switch(__FILE__, __LINE__)

// Calls f(line) for every line of s, in order, until f returns false. A line
// ends at "\r\n", "\r" or "\n"; a trailing line end starts no line.
template <typename F>
void for_each_line(std::string_view s, F&& f) {
    size_t i = 0;
    while (i < s.size()) {
        size_t start = i;
        while (i < s.size() && s[i] != '\r' && s[i] != '\n') ++i;
        if (!f(s.substr(start, i - start))) return;
        if (i < s.size()) {
            if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
            ++i;
        }
    }
}

// ASCII case folding, for the names the suite compares without case.
char ascii_lower(char c);
bool iequals(std::string_view a, std::string_view b);
int icompare(std::string_view a, std::string_view b);

}  // namespace vardel
