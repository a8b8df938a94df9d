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

  private:
    int fd_;
};

}  // namespace vardel
