#pragma once
// vardelrestore's command-line mode: the same catalogue, loading, list and
// extraction as the window, without prompts (see help_text()).
//   --list     the rows of the list, tab-separated, with the hidden index column
//   --extract  the chosen rows extracted; 0 "Copy completed", 1 "Copy aborted"
// One run per object; the thread that calls run().
#include <iosfwd>
#include <string>
#include <vector>

namespace vardel {

class RestoreCli {
  public:
    // The whole --help text.
    static const char* help_text();
    // True when the arguments ask for the command-line mode.
    static bool wants(const std::vector<std::string>& args);

    RestoreCli(std::ostream& out, std::ostream& err, std::istream& in)
        : out_(out), err_(err), in_(in) {}
    // Exit status: 0 done, 1 failed (or "Copy aborted", or items not
    // extracted), 2 bad command line.
    int run(const std::vector<std::string>& args);

  private:
    std::ostream& out_;
    std::ostream& err_;
    std::istream& in_;
};

}  // namespace vardel
