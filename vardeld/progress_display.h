#pragma once
// In interactive mode the terminal is the service's progress display: every
// log line goes to standard output, after the log file and the socket's
// subscribers. In service mode nothing is attached.
#include "common/log.h"

namespace vardel {

class ProgressDisplay : public LogSink {
  public:
    explicit ProgressDisplay(int fd = 1) : fd_(fd) {}
    void write_line(int level, std::string_view text) override;
    // Lines below `level` are not shown (the log file keeps them).
    void set_min_level(int level) { min_level_ = level; }

  private:
    int fd_;
    int min_level_ = 0;
};

}  // namespace vardel
