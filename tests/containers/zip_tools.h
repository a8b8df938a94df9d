#pragma once
// The peers the ZIP tests check our archives with: Info-ZIP's zip/unzip and
// Python's zipfile module.
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace vardel::test {

inline ChildResult run_tool(const std::vector<std::string>& argv) {
    return run_program(argv);
}

// Runs a Python snippet; sys.argv[1:] are the args.
inline ChildResult run_python(const std::string& code, const std::vector<std::string>& args = {}) {
    std::vector<std::string> argv = {"/usr/bin/python3", "-c", code};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv);
}

inline ChildResult run_shell(const std::string& command) {
    return run_program({"/bin/sh", "-c", command});
}

}  // namespace vardel::test
