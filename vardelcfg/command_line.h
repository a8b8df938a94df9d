#pragma once
// vardelcfg without its window, for scripts and machines without a display:
//
//   --export-settings FILE           the suite-wide settings into a settings file
//   --import-settings FILE           a settings file into the store
//   --export-sets FILE [--set NAME]  every set, or the set NAME, into a set file
//   --import-sets FILE               the sets of a set file into the store
//   --set-password encoding|share [--stdin]
//
// An import (and a new password) is saved in one transaction and the
// service is told to reload, as the editor's Save does. The system's
// messages go to standard error, one a line. Exit status: 0 done, 1 failed
// (nothing changed, no file written), 2 bad command line.
//
// A password never appears on a command line: it is asked twice without
// echo on a terminal, or read as one line from standard input with --stdin.
#include <ostream>
#include <string>
#include <vector>

namespace vardel {

class CommandLine {
  public:
    // True when the arguments ask for the command-line mode (or --help,
    // --version), false when the window is wanted.
    static bool wanted(const std::vector<std::string>& args);
    // The --help text of the program, window and command line.
    static const char* help();

    // `in_fd` is standard input (passwords).
    int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            int in_fd = 0);

  private:
    int usage(std::ostream& err, const std::string& why);
};

}  // namespace vardel
