#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vardel::test {

namespace {

using Clock = std::chrono::steady_clock;

void exec_with_env(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    for (const std::string& kv : env) {
        size_t eq = kv.find('=');
        if (eq == std::string::npos)
            unsetenv(kv.c_str());
        else
            setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    std::fprintf(stderr, "exec %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
}

ChildResult collect(pid_t pid, int out_fd, int err_fd, std::chrono::milliseconds timeout) {
    ChildResult r;
    auto deadline = Clock::now() + timeout;
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    int open_count = 2;
    char buf[65536];
    while (open_count > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            r.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        int n = poll(fds, 2, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                ssize_t got = read(fds[i].fd, buf, sizeof buf);
                if (got <= 0) {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open_count;
                } else {
                    (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(got));
                }
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
    return r;
}

template <typename Child>
ChildResult spawn_and_collect(Child child, const std::string& input,
                              std::chrono::milliseconds timeout) {
    int out[2], err[2], in[2];
    if (pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC) || pipe2(in, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        child();
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    close(in[0]);
    // Small inputs only: the pipe buffer holds them without a writer thread.
    if (!input.empty()) {
        ssize_t ignored = write(in[1], input.data(), input.size());
        (void)ignored;
    }
    close(in[1]);
    return collect(pid, out[0], err[0], timeout);
}

}  // namespace

ChildResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                        const std::string& input, std::chrono::milliseconds timeout) {
    return spawn_and_collect([&] { exec_with_env(argv, env); }, input, timeout);
}

ChildResult run_in_child(const std::function<int()>& fn, std::chrono::milliseconds timeout) {
    return spawn_and_collect(
        [&] {
            int rc = fn();
            std::fflush(stdout);
            std::fflush(stderr);
            _exit(rc);
        },
        {}, timeout);
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& env,
                                     const std::string& stdout_path) {
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        int fd = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, 0);
        setpgid(0, 0);
        exec_with_env(argv, env);
    }
}

BackgroundProcess::BackgroundProcess(const std::function<int()>& fn) {
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) _exit(fn());
}

BackgroundProcess::~BackgroundProcess() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void BackgroundProcess::signal(int signo) {
    if (pid_ > 0 && !reaped_) kill(pid_, signo);
}

bool BackgroundProcess::running() {
    if (reaped_) return false;
    pid_t r = waitpid(pid_, &status_, WNOHANG);
    if (r == pid_) reaped_ = true;
    return !reaped_;
}

int BackgroundProcess::wait(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (running()) {
        if (Clock::now() > deadline) return -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

bool wait_until(const std::function<bool()>& cond, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (!cond()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace vardel::test
