// vardelnotify: the tray controller.
#include <cstdio>
#include <optional>

#include "gui/program_start.h"
#include "vardelnotify/ui/tray_program.h"

namespace {

const char* const kHelp =
    "Usage: vardelnotify\n"
    "  The tray controller: an icon in the desktop's notification area that\n"
    "  shows the backup service's notices as balloons, and a menu that starts\n"
    "  the suite's programs and sends commands to the service. One copy runs\n"
    "  per login session; it starts the sets of type \"On Logon\" 5 seconds\n"
    "  after it starts and those of type \"On Logoff\" when the session ends.\n"
    "  --help, --version\n"
    "Exit status: 0 when closed from its menu, by a termination signal, or\n"
    "when another copy already runs in the session; 1 when it cannot start.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args = vardel::gui::arguments(argc, argv);
    if (std::optional<int> done = vardel::gui::start_program(args, {"vardelnotify", kHelp}))
        return *done;
    if (!args.empty()) {
        std::fprintf(stderr, "vardelnotify: unknown argument %s (try --help)\n", args[0].c_str());
        return 2;
    }
    return vardel::run_tray(argc, argv);
}
