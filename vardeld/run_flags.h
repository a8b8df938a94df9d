#pragma once
// The two flags through which the control thread steers a running backup:
// abort and pause. Set by the control thread, read by the backup thread
// between units of work; every wait of the run watches the abort, so a stop
// never waits out a sleep.
#include <atomic>

#include "platform/env.h"

namespace vardel {

class RunFlags {
  public:
    // Sets the abort flag and ends every wait of the run at once.
    void abort() { abort_.raise(); }
    // Sets or clears the pause flag; a paused run resumes at once.
    void pause(bool on) {
        pause_.store(on);
        abort_.wake();
    }
    // Before a run starts: a stop meant for the last one does not carry over.
    void clear_abort() { abort_.reset(); }
    // Both flags off, between runs.
    void clear() {
        abort_.reset();
        pause_.store(false);
    }
    bool aborting() const { return abort_.raised(); }
    bool paused() const { return pause_.load(); }
    // What a run's waits watch (Env::sleep_for), and the flag for code that
    // polls between blocks.
    const platform::Interrupt& interrupt() const { return abort_; }

    // The one abort check: when the abort flag is set, logs DEBUG `trace`
    // and throws MyError 23 "Abort by user request".
    void check_abort(const char* trace = "throw abort\n") const;
    // While the pause flag is set: logs DEBUG "Backup paused\n", waits,
    // logs DEBUG "Backup resumes\n". An abort also ends the pause, so a
    // paused backup can be stopped or shut down at once.
    void wait_while_paused(const platform::Env& env) const;

  private:
    platform::Interrupt abort_;
    std::atomic<bool> pause_{false};
};

}  // namespace vardel
