// vardelgo NAME: asks the backup service to run the set NAME now.
#include <cstdio>
#include <string>
#include <vector>

#include "common/fault_translation.h"
#include "common/general_settings.h"
#include "common/my_error.h"
#include "vardelgo/manual_start.h"

namespace {

void print_help() {
    std::printf(
        "Usage: vardelgo NAME\n"
        "  asks the backup service to run the backup set NAME now (its name\n"
        "  without regard to case; quotes around it are removed)\n"
        "  --help, --version\n"
        "Exit status: 0 request sent, 1 no such set or no service, 2 no name given.\n");
}

}  // namespace

int main(int argc, char** argv) {
    vardel::install_fault_translation();
    using namespace vardel;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--help") {
        print_help();
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        std::printf("vardelgo %s\n", VARDEL_VERSION);
        return 0;
    }
    std::string name = ManualStart::name_from_command_line(ManualStart::join_arguments(args));
    if (name.empty()) {
        std::fprintf(stderr, "vardelgo: no backup set named (try --help)\n");
        return 2;
    }
    GeneralSettings settings;
    try {
        settings.load();
    } catch (const MyError& e) {
        std::fprintf(stderr, "%s\n", e.message());
        return 1;
    }
    std::string message;
    if (ManualStart(settings.backup_sets()).start_from_command_line(name, message) !=
        ManualStart::Outcome::Sent) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return 1;
    }
    return 0;
}
