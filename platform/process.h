#pragma once
// Child processes: hook commands through the shell, and programs run with
// their output captured, each waited for. Any thread.
#include <chrono>
#include <string>
#include <vector>

namespace vardel::platform {

// Runs `command` through /bin/sh -c and waits for it. Returns its exit status,
// 128 + the signal that ended it, or -1 when it could not be started
// (*error_number then holds errno). Standard input is /dev/null.
int run_shell_command(const std::string& command, int* error_number = nullptr);

struct ProgramResult {
    // Exit status, 128 + the signal that ended it, or -1 when it could not be
    // started or was killed after the time-out (error_number then says which:
    // errno of the start, or ETIMEDOUT).
    int exit_status = -1;
    int error_number = 0;
    std::string output;  // standard output and standard error, interleaved
};

// Runs argv[0] (a path; no PATH search) with exactly the environment `env`
// ("K=V" entries) and standard input /dev/null, and waits for it. A child
// still running after `timeout` is killed.
ProgramResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          std::chrono::milliseconds timeout);

// `program` itself when it holds a "/", else the first executable of that
// name in $PATH, then /usr/sbin, /sbin, /usr/bin and /bin (tools that a
// user's PATH may lack); empty when there is none.
std::string find_program(const std::string& program);

// The path of this process's program file; empty when it cannot be told.
std::string own_program_path();

// The effective user's account name ("root"), or its number as text.
std::string account_name();
unsigned effective_uid();
unsigned effective_gid();

}  // namespace vardel::platform
