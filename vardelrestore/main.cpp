// vardelrestore: the restore tool. With --list or --extract it works on the
// command line without a display; otherwise it opens its window.
#include <iostream>

#include "gui/program_start.h"
#include "vardelrestore/restore_cli.h"
#include "vardelrestore/ui/restore_window.h"

int main(int argc, char** argv) {
    using namespace vardel;
    std::vector<std::string> args = gui::arguments(argc, argv);
    if (auto status = gui::start_program(args, {"vardelrestore", RestoreCli::help_text()}))
        return *status;
    if (RestoreCli::wants(args)) return RestoreCli(std::cout, std::cerr, std::cin).run(args);
    if (args.size() > 1 || (args.size() == 1 && args[0].rfind('-', 0) == 0)) {
        std::cerr << "vardelrestore: unknown arguments (try --help)\n";
        return 2;
    }
    return run_restore_window(argc, argv, args.empty() ? std::string() : args[0]);
}
