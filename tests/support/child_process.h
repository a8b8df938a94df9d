#pragma once
// Starting real programs from tests: run to completion with captured output,
// or start in the background and stop later.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vardel::test {

struct ChildResult {
    int exit_code = -1;      // exit status, or -1 when killed by a signal
    int signal = 0;          // the signal that ended it, or 0
    bool timed_out = false;  // killed after the time-out
    std::string out;         // standard output
    std::string err;         // standard error
};

// Runs argv[0] (a path) with argv, the extra environment entries ("K=V") and
// the given standard input; kills it after `timeout`.
ChildResult run_program(const std::vector<std::string>& argv,
                        const std::vector<std::string>& env = {}, const std::string& input = {},
                        std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Runs fn in a forked child (which exits with fn's return value); output captured.
ChildResult run_in_child(const std::function<int()>& fn,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60));

// A program running in the background; killed (SIGKILL) when destroyed.
class BackgroundProcess {
  public:
    BackgroundProcess(const std::vector<std::string>& argv,
                      const std::vector<std::string>& env = {},
                      const std::string& stdout_path = "/dev/null");
    // A forked child running fn (exits with its value).
    explicit BackgroundProcess(const std::function<int()>& fn);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int signo);
    // Waits for the end; returns the exit code, or -1 (signal) or -2 (time-out).
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    bool running();

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

// Polls cond every 20 ms until it holds or the time-out passes.
bool wait_until(const std::function<bool()>& cond,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace vardel::test
