// vardelgo NAME: asks the backup service to run the set NAME now.
// vardelgo alone: the "Start a Backup" dialog, to pick the set.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "common/general_settings.h"
#include "common/my_error.h"
#include "gui/guarded_application.h"
#include "gui/message_box.h"
#include "gui/program_start.h"
#include "vardelgo/manual_start.h"
#include "vardelgo/ui/start_dialog.h"

namespace {

const char* const kHelp =
    "Usage: vardelgo [NAME]\n"
    "  asks the backup service to run the backup set NAME now (its name\n"
    "  without regard to case; quotes around it are removed); without NAME,\n"
    "  shows the \"Start a Backup\" dialog to pick the set\n"
    "  --help, --version\n"
    "Exit status: 0 request sent (or the dialog closed), 1 no such set or no\n"
    "service, 2 no name given and no display to show the dialog on.\n";

bool display_available() {
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* s = std::getenv(v); s && *s) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vardel;
    std::vector<std::string> args = gui::arguments(argc, argv);
    if (std::optional<int> done = gui::start_program(args, {"vardelgo", kHelp})) return *done;
    std::string name = ManualStart::name_from_command_line(ManualStart::join_arguments(args));
    if (name.empty() && !display_available()) {
        std::fprintf(stderr, "vardelgo: no backup set named (try --help)\n");
        return 2;
    }
    GeneralSettings settings;
    try {
        settings.load();
    } catch (const MyError& e) {
        std::fprintf(stderr, "%s\n", e.message());
        if (name.empty()) {
            gui::GuardedApplication app(argc, argv, QStringLiteral("vardelgo"));
            gui::show_error(nullptr, e);
        }
        return 1;
    }
    ManualStart starter(settings.backup_sets());
    if (!name.empty()) {
        std::string message;
        if (starter.start_from_command_line(name, message) != ManualStart::Outcome::Sent) {
            std::fprintf(stderr, "%s\n", message.c_str());
            return 1;
        }
        return 0;
    }
    gui::GuardedApplication app(argc, argv, QStringLiteral("vardelgo"));
    StartDialog dialog(starter, ManualStart::read_last());
    dialog.exec();
    return 0;
}
