// vardelrestore: the restore tool. With --list or --extract it works on the
// command line without a display; otherwise it opens its window.
#include <iostream>

#include "gui/program_start.h"
#include "vardelrestore/restore_cli.h"

int main(int argc, char** argv) {
    using namespace vardel;
    std::vector<std::string> args = gui::arguments(argc, argv);
    if (auto status = gui::start_program(args, {"vardelrestore", RestoreCli::help_text()}))
        return *status;
    if (RestoreCli::wants(args)) return RestoreCli(std::cout, std::cerr, std::cin).run(args);
    std::cerr << "vardelrestore: the window is not built yet\n";
    return 1;
}
