// vardelinfo: the suite's about box, on its own (the tray menu starts it).
#include <cstdio>
#include <optional>

#include "common/suite_names.h"
#include "gui/about_box.h"
#include "gui/guarded_application.h"
#include "gui/program_start.h"

namespace {

const char* const kHelp =
    "Usage: vardelinfo\n"
    "  Shows the product banner, its version and the libraries it is built on.\n"
    "  --help, --version\n"
    "Exit status: 0 when the box is closed.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace vardel;
    std::vector<std::string> args = gui::arguments(argc, argv);
    if (std::optional<int> done = gui::start_program(args, {"vardelinfo", kHelp})) return *done;
    if (!args.empty()) {
        std::fprintf(stderr, "vardelinfo: unknown argument %s (try --help)\n", args[0].c_str());
        return 2;
    }
    gui::GuardedApplication app(argc, argv, QStringLiteral("vardelinfo"));
    gui::show_about_box(nullptr, QString::fromLatin1(kProductName));
    return 0;
}
