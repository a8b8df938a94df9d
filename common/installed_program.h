#pragma once
// Where the suite's other programs are, for the programs that start them
// or point desktop launchers at them.
#include <string>
#include <string_view>

namespace vardel {

// The program `name` ("vardelgo"): in the product key's "InstallDir" when it
// is there, else beside the running program (an install without the
// installer, or the build tree, where each program has a folder of its
// own). When it is found nowhere, "InstallDir" (or ".") + "/" + name.
std::string installed_program(std::string_view name);
// The same with the folders given.
std::string installed_program(std::string_view name, const std::string& install_dir,
                              const std::string& own_folder);

}  // namespace vardel
