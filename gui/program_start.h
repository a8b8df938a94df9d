#pragma once
// What every program does first: processor faults are reported and end the
// process, and "--help" or "--version" as the only argument is answered
// on standard output. Needs no display: nothing here builds a QApplication,
// so a command-line mode decides on its own whether a window is wanted.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace vardel::gui {

struct ProgramInfo {
    std::string name;  // "vardelrestore"
    std::string help;  // the whole --help text, usage lines first
};

// Installs the fault translation, then answers the standard options: the
// exit status (0) when one was answered, none when the program goes on.
std::optional<int> start_program(const std::vector<std::string>& args, const ProgramInfo& info,
                                 std::FILE* out = stdout);

// argv[1..] as strings.
std::vector<std::string> arguments(int argc, char** argv);

}  // namespace vardel::gui
