#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace vardel::platform {

namespace {

// Children get the default signal mask and SIGPIPE action, not the
// service's blocked set.
class SpawnAttributes {
  public:
    SpawnAttributes() {
        posix_spawnattr_init(&attr_);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr_, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attr_, &defaults);
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    const posix_spawnattr_t* get() const { return &attr_; }

  private:
    posix_spawnattr_t attr_;
};

int status_code(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

std::string find_program(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    std::string dirs;
    if (const char* p = std::getenv("PATH")) dirs = p;
    dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
    size_t pos = 0;
    while (pos <= dirs.size()) {
        size_t end = dirs.find(':', pos);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(pos, end - pos);
        pos = end + 1;
        if (dir.empty()) continue;
        std::string candidate = dir + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

int run_shell_command(const std::string& command, int* error_number) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    SpawnAttributes attr;

    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    pid_t pid;
    int rc =
        posix_spawn(&pid, "/bin/sh", &actions, attr.get(), const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        if (error_number) *error_number = rc;
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            if (error_number) *error_number = errno;
            return -1;
        }
    }
    return status_code(status);
}

ProgramResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          std::chrono::milliseconds timeout) {
    ProgramResult result;
    if (argv.empty()) {
        result.error_number = EINVAL;
        return result;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        result.error_number = errno;
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    SpawnAttributes attr;

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    pid_t pid;
    int rc = posix_spawn(&pid, argv[0].c_str(), &actions, attr.get(), args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        result.error_number = rc;
        return result;
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    auto left_ms = [&] {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        return left.count() < 0 ? 0 : static_cast<int>(left.count());
    };
    bool timed_out = false;
    // Read until every holder of the pipe has closed it: the child and
    // anything it started.
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        int n = ::poll(&p, 1, left_ms());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            timed_out = true;
            ::kill(pid, SIGKILL);
            break;
        }
        char buf[4096];
        ssize_t got = ::read(fds[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (result.output.size() < (1u << 20)) result.output.append(buf, static_cast<size_t>(got));
    }
    ::close(fds[0]);

    int status = 0;
    for (;;) {
        pid_t w = waitpid(pid, &status, timed_out ? 0 : WNOHANG);
        if (w == pid) break;
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) {
            result.error_number = errno;
            return result;
        }
        // Output closed but the child lingers: wait out the rest of the time.
        if (left_ms() == 0) {
            timed_out = true;
            ::kill(pid, SIGKILL);
            continue;
        }
        ::usleep(10000);
    }
    // A child that ended on its own before the kill keeps its status.
    if (timed_out && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
        result.error_number = ETIMEDOUT;
        return result;
    }
    result.exit_status = status_code(status);
    return result;
}

std::string account_name() {
    uid_t uid = geteuid();
    if (const passwd* pw = getpwuid(uid)) return pw->pw_name;
    return std::to_string(uid);
}

unsigned effective_uid() {
    return static_cast<unsigned>(geteuid());
}
unsigned effective_gid() {
    return static_cast<unsigned>(getegid());
}

std::string own_program_path() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.string();
}

}  // namespace vardel::platform
