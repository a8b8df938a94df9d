#pragma once
// Child processes: hook commands through the shell, waited for.
#include <string>

namespace vardel::platform {

// Runs `command` through /bin/sh -c and waits for it. Returns its exit status,
// 128 + the signal that ended it, or -1 when it could not be started
// (*error_number then holds errno). Standard input is /dev/null.
int run_shell_command(const std::string& command, int* error_number = nullptr);

// The effective user's account name ("root"), or its number as text.
std::string account_name();

}  // namespace vardel::platform
