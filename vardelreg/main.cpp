// vardelreg: the settings store from the command line (see reg_tool.h).
#include <iostream>
#include <string>
#include <vector>

#include "common/fault_translation.h"
#include "vardelreg/reg_tool.h"

int main(int argc, char** argv) {
    vardel::install_fault_translation();
    std::vector<std::string> args(argv + 1, argv + argc);
    return vardel::RegTool().run(args, std::cout, std::cerr);
}
