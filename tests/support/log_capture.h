#pragma once
// Collects every log line while it lives, for tests that check traces.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/log.h"

namespace vardel::test {

class LogCapture : public LogSink {
public:
    LogCapture() { Logger::instance().add_sink(this, SinkOrder::Other); }
    ~LogCapture() override { Logger::instance().remove_sink(this); }

    void write_line(int level, std::string_view text) override {
        std::lock_guard l(m_);
        lines_.push_back(std::string(level_name(level)) + std::string(text));
        if (on_line) on_line(std::string(text));
    }
    // Every line, level name first, with its CR LF.
    std::vector<std::string> lines() const {
        std::lock_guard l(m_);
        return lines_;
    }
    bool has(const std::string& text) const {
        std::lock_guard l(m_);
        for (const auto& s : lines_)
            if (s.find(text) != std::string::npos) return true;
        return false;
    }
    int count(const std::string& text) const {
        std::lock_guard l(m_);
        int n = 0;
        for (const auto& s : lines_) n += s.find(text) != std::string::npos;
        return n;
    }
    std::string all() const {
        std::lock_guard l(m_);
        std::string s;
        for (const auto& l2 : lines_) s += l2;
        return s;
    }
    // Called for each line's text (under the log lock; keep it short).
    std::function<void(const std::string&)> on_line;

private:
    mutable std::mutex m_;
    std::vector<std::string> lines_;
};

}  // namespace vardel::test
