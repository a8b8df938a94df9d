// vardelagenda: the schedule settings of every enabled backup set and every
// run they call for from today through the seventh day after; in a window,
// or with --print as tab-separated text.
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "common/general_settings.h"
#include "common/local_clock.h"
#include "common/my_error.h"
#include "gui/guarded_application.h"
#include "gui/message_box.h"
#include "gui/program_start.h"
#include "vardelagenda/agenda.h"
#include "vardelagenda/ui/agenda_window.h"

namespace {

const char* const kHelp =
    "Usage: vardelagenda [--print]\n"
    "  Shows the schedule of every enabled backup set and every run due from\n"
    "  today through the seventh day after.\n"
    "  --print    writes both lists to standard output as tab-separated text\n"
    "             with their headers, instead of showing the window\n"
    "  --help, --version\n"
    "Exit status: 0 shown; 1 the settings could not be read, or more runs were\n"
    "due than the list holds (the first 5000 are listed); 2 bad command line.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace vardel;
    std::vector<std::string> args = gui::arguments(argc, argv);
    if (std::optional<int> done = gui::start_program(args, {"vardelagenda", kHelp})) return *done;
    bool print = args.size() == 1 && args[0] == "--print";
    if (!args.empty() && !print) {
        std::fprintf(stderr, "vardelagenda: unknown argument %s (try --help)\n", args[0].c_str());
        return 2;
    }

    if (print) {
        try {
            GeneralSettings settings;
            settings.load();
            Agenda agenda(settings.backup_sets(), LocalClock().local_now());
            agenda.print(std::cout);
            std::cout.flush();
            if (agenda.full()) {
                std::fprintf(stderr, "%s\n%s\n", Agenda::kFullMessage, Agenda::kFullError);
                return 1;
            }
            return 0;
        } catch (const MyError& e) {
            std::fprintf(stderr, "%s\n", e.message());
            return 1;
        }
    }

    gui::GuardedApplication app(argc, argv, QStringLiteral("vardelagenda"));
    std::unique_ptr<Agenda> agenda;
    try {
        GeneralSettings settings;
        settings.load();
        agenda = std::make_unique<Agenda>(settings.backup_sets(), LocalClock().local_now());
    } catch (const MyError& e) {
        gui::show_error(nullptr, e);
        return 1;
    }
    AgendaWindow window(*agenda);
    window.show();
    if (agenda->full()) window.report_full();
    return app.exec();
}
