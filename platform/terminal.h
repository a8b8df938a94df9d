#pragma once
// Reading a secret from a terminal without showing it. Any thread, but one
// reader of a terminal at a time.
#include <optional>
#include <string>
#include <string_view>

namespace vardel::platform {

bool is_terminal(int fd);

// Writes `prompt` to `prompt_fd`, then reads one line from `fd` with the
// terminal's echo off (a line feed is echoed after it); the echo is put back
// even when SIGINT, SIGTERM or SIGHUP end the wait. The line comes without
// its line end; none at the end of input or on a read error.
std::optional<std::string> read_hidden_line(int fd, int prompt_fd, std::string_view prompt);

// One line from `fd` (no terminal handling), read byte by byte so nothing
// after it is taken from the descriptor; without its line end ("\n" or
// "\r\n"); none when nothing at all could be read.
std::optional<std::string> read_line(int fd);

}  // namespace vardel::platform
