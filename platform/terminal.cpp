#include "platform/terminal.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace vardel::platform {

namespace {

// What the signal handler needs to put the terminal back.
int g_echo_fd = -1;
struct termios g_saved;

void restore_and_reraise(int signo) {
    if (g_echo_fd >= 0) ::tcsetattr(g_echo_fd, TCSANOW, &g_saved);
    ::signal(signo, SIG_DFL);
    ::raise(signo);
}

}  // namespace

bool is_terminal(int fd) {
    return ::isatty(fd) == 1;
}

std::optional<std::string> read_line(int fd) {
    std::string line;
    bool any = false;
    for (;;) {
        char c;
        ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        any = true;
        if (c == '\n') break;
        line += c;
    }
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::optional<std::string> read_hidden_line(int fd, int prompt_fd, std::string_view prompt) {
    auto write_prompt = [&] {
        if (prompt.empty()) return;
        ssize_t n = ::write(prompt_fd, prompt.data(), prompt.size());
        (void)n;
    };
    struct termios saved;
    if (::tcgetattr(fd, &saved) != 0) {
        write_prompt();
        return read_line(fd);
    }
    struct termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;

    g_saved = saved;
    g_echo_fd = fd;
    struct sigaction sa = {}, old_int, old_term, old_hup;
    sa.sa_handler = restore_and_reraise;
    ::sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, &old_int);
    ::sigaction(SIGTERM, &sa, &old_term);
    ::sigaction(SIGHUP, &sa, &old_hup);
    // Quiet before the prompt shows, so nothing typed after it is flushed.
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
    write_prompt();

    std::optional<std::string> line = read_line(fd);

    ::tcsetattr(fd, TCSANOW, &saved);
    g_echo_fd = -1;
    ::sigaction(SIGINT, &old_int, nullptr);
    ::sigaction(SIGTERM, &old_term, nullptr);
    ::sigaction(SIGHUP, &old_hup, nullptr);
    return line;
}

}  // namespace vardel::platform
