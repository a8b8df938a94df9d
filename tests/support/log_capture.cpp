#include "tests/support/log_capture.h"

namespace vardel::test {

LogCapture::LogCapture() {
    Logger::instance().add_sink(this, SinkOrder::Other);
}

LogCapture::~LogCapture() {
    Logger::instance().remove_sink(this);
}

void LogCapture::write_line(int level, std::string_view text) {
    std::string t;
    t.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        t.push_back(text[i]);
    }
    {
        std::lock_guard l(m_);
        lines_.push_back({level, t});
    }
    if (on_line) on_line(level, t);
}

std::vector<LogCapture::Line> LogCapture::lines() const {
    std::lock_guard l(m_);
    return lines_;
}

void LogCapture::clear() {
    std::lock_guard l(m_);
    lines_.clear();
}

std::string LogCapture::file_form(const Line& l) {
    std::string s = level_name(l.level);
    for (char c : l.text) {
        if (c == '\n')
            s += "\r\n";
        else
            s.push_back(c);
    }
    return s;
}

bool LogCapture::has(std::string_view part) const {
    return occurrences(part) > 0;
}

int LogCapture::occurrences(std::string_view part) const {
    std::lock_guard l(m_);
    int n = 0;
    for (const Line& line : lines_) n += file_form(line).find(part) != std::string::npos;
    return n;
}

int LogCapture::count(int level, std::string_view text) const {
    std::lock_guard l(m_);
    int n = 0;
    for (const Line& line : lines_) n += line.level == level && line.text == text;
    return n;
}

int LogCapture::count(std::string_view text) const {
    std::lock_guard l(m_);
    int n = 0;
    for (const Line& line : lines_) n += line.text == text;
    return n;
}

std::string LogCapture::all() const {
    std::lock_guard l(m_);
    std::string s;
    for (const Line& line : lines_) s += file_form(line);
    return s;
}

}  // namespace vardel::test
