// vardelwatch: the backup service's state and its log, followed live.
#include <optional>

#include "gui/guarded_application.h"
#include "gui/program_start.h"
#include "vardelwatch/ui/watch_window.h"

namespace {

const char* const kHelp =
    "Usage: vardelwatch\n"
    "  Shows the backup service's state (enabled or disabled, the backup in\n"
    "  progress, the next run) and follows its notices and log lines live.\n"
    "  --help, --version\n"
    "Exit status: 0 when the window is closed.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace vardel;
    std::vector<std::string> args = gui::arguments(argc, argv);
    if (std::optional<int> done = gui::start_program(args, {"vardelwatch", kHelp})) return *done;
    if (!args.empty()) {
        std::fprintf(stderr, "vardelwatch: unknown argument %s (try --help)\n", args[0].c_str());
        return 2;
    }
    gui::GuardedApplication app(argc, argv, QStringLiteral("vardelwatch"));
    WatchWindow window;
    window.show();
    window.connect_to_service();
    QObject::connect(&window, &QDialog::finished, &app, &QApplication::quit);
    return app.exec();
}
