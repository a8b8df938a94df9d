#include "gui/program_start.h"

#include "common/fault_translation.h"

namespace vardel::gui {

std::vector<std::string> arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::optional<int> start_program(const std::vector<std::string>& args, const ProgramInfo& info,
                                 std::FILE* out) {
    install_fault_translation();
    if (args.size() != 1) return std::nullopt;
    if (args[0] == "--help") {
        std::fputs(info.help.c_str(), out);
        if (!info.help.empty() && info.help.back() != '\n') std::fputc('\n', out);
        return 0;
    }
    if (args[0] == "--version") {
        std::fprintf(out, "%s %s\n", info.name.c_str(), VARDEL_VERSION);
        return 0;
    }
    return std::nullopt;
}

}  // namespace vardel::gui
