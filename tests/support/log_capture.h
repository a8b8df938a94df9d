#pragma once
// Collects every log line while it lives (it attaches itself to the log
// call), for tests that check traces. A hook can act on a line as it is
// logged, on the logging thread: tests stop or steer a run at an exact point.
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/log.h"

namespace vardel::test {

class LogCapture : public LogSink {
  public:
    struct Line {
        int level;
        std::string text;  // as logged, CR LF turned back into "\n"
    };

    LogCapture();
    ~LogCapture() override;
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void write_line(int level, std::string_view text) override;

    std::vector<Line> lines() const;
    void clear();
    // Whether some line, in its log-file form (level name, text, CR LF),
    // holds `part`; how many do.
    bool has(std::string_view part) const;
    int occurrences(std::string_view part) const;
    // How often exactly this text (with "\n") was logged, at this level or any.
    int count(int level, std::string_view text) const;
    int count(std::string_view text) const;
    // Every line in its log-file form.
    std::string all() const;

    // Called for each line (level, text with "\n"); keep it short.
    std::function<void(int level, const std::string& text)> on_line;

  private:
    static std::string file_form(const Line& l);
    mutable std::mutex m_;
    std::vector<Line> lines_;
};

}  // namespace vardel::test
