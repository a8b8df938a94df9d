#pragma once
// The two flags through which the control thread steers a running backup:
// abort and pause. Written by the control thread, read by the backup thread
// between units of work.
#include <atomic>

namespace vardel {

struct RunFlags {
    std::atomic<bool> abort{false};
    std::atomic<bool> pause{false};
};

// When the abort flag is set: logs DEBUG "throw abort\n" and throws
// MyError 23 "Abort flag set".
void check_abort(const RunFlags& flags);

// While the pause flag is set: logs DEBUG "Backup paused\n", sleeps in steps
// of 1000 ms, logs DEBUG "Backup resumes\n". An abort also ends the pause, so
// a paused backup can be stopped or shut down at once.
void pause_wait(const RunFlags& flags);

}  // namespace vardel
