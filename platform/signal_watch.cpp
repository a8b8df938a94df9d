#include "platform/signal_watch.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace vardel::platform {

namespace {
sigset_t termination_set() {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGTERM);
    sigaddset(&s, SIGINT);
    sigaddset(&s, SIGHUP);
    return s;
}
}  // namespace

void block_termination_signals() {
    sigset_t s = termination_set();
    pthread_sigmask(SIG_BLOCK, &s, nullptr);
    // A client that vanishes must not kill the service on a write.
    signal(SIGPIPE, SIG_IGN);
}

SignalWatch::SignalWatch() {
    sigset_t s = termination_set();
    fd_ = ::signalfd(-1, &s, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("signalfd failed");
}

SignalWatch::~SignalWatch() {
    if (fd_ >= 0) ::close(fd_);
}

int SignalWatch::take() {
    signalfd_siginfo info;
    ssize_t n = ::read(fd_, &info, sizeof info);
    return n == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
}

int SignalWatch::wait(int wake_fd) {
    while (true) {
        pollfd p[2] = {{fd_, POLLIN, 0}, {wake_fd, POLLIN, 0}};
        int n = ::poll(p, wake_fd >= 0 ? 2 : 1, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        if (p[0].revents & POLLIN) {
            if (int s = take()) return s;
        }
        if (wake_fd >= 0 && (p[1].revents & (POLLIN | POLLHUP))) return 0;
    }
}

}  // namespace vardel::platform
