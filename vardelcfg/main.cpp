// vardelcfg: the settings editor.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "gui/program_start.h"
#include "vardelcfg/ui/editor_program.h"

namespace {

constexpr const char* kHelp =
    "usage: vardelcfg\n"
    "\n"
    "Opens the settings editor \"Vardel Settings\": the suite-wide settings and\n"
    "every backup set, saved to the settings store; the backup service is told\n"
    "to reload them.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args = vardel::gui::arguments(argc, argv);
    if (std::optional<int> answered = vardel::gui::start_program(args, {"vardelcfg", kHelp}))
        return *answered;
    // Decided before any window is made: a command line needs no display.
    if (!args.empty()) {
        std::fprintf(stderr, "vardelcfg: unknown argument %s (try --help)\n", args[0].c_str());
        return 2;
    }
    return vardel::run_editor_window(argc, argv);
}
