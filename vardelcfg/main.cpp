// vardelcfg: the settings editor; with an option, its command-line mode.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "gui/program_start.h"
#include "vardelcfg/command_line.h"
#include "vardelcfg/ui/editor_program.h"

int main(int argc, char** argv) {
    std::vector<std::string> args = vardel::gui::arguments(argc, argv);
    if (std::optional<int> answered =
            vardel::gui::start_program(args, {"vardelcfg", vardel::CommandLine::help()}))
        return *answered;
    // Decided before any window is made: a command line needs no display.
    if (vardel::CommandLine::wanted(args))
        return vardel::CommandLine().run(args, std::cout, std::cerr);
    return vardel::run_editor_window(argc, argv);
}
