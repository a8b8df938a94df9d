#pragma once
// Termination signals (SIGTERM, SIGINT, SIGHUP) as a readable descriptor,
// so a thread can wait for them with poll() beside other descriptors. The
// signals are blocked in every thread created after block_termination_signals()
// (call it first thing in main, before any thread starts).
namespace vardel::platform {

void block_termination_signals();

class SignalWatch {
  public:
    SignalWatch();  // a signalfd for SIGTERM, SIGINT, SIGHUP
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    int fd() const { return fd_; }
    // The pending signal's number, or 0 when none is pending.
    int take();
    // Blocks until a signal arrives or `wake_fd` (when >= 0) is readable;
    // returns the signal or 0 for a wake-up.
    int wait(int wake_fd = -1);

  private:
    int fd_ = -1;
};

}  // namespace vardel::platform
