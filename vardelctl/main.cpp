// vardelctl: the backup service from the command line (see ctl_tool.h).
#include <iostream>
#include <string>
#include <vector>

#include "common/fault_translation.h"
#include "vardelctl/ctl_tool.h"

int main(int argc, char** argv) {
    vardel::install_fault_translation();
    std::vector<std::string> args(argv + 1, argv + argc);
    return vardel::CtlTool().run(args, std::cout, std::cerr);
}
