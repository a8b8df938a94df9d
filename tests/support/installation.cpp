#include "tests/support/installation.h"

#include <filesystem>

#include "tests/support/scratch.h"

namespace vardel::test {

ScratchInstall::ScratchInstall(std::string scratch) : scratch_(std::move(scratch)) {
    for (const char* dir : {"/home", "/tmp", "/sys"})
        std::filesystem::create_directories(scratch_ + dir);
}

std::vector<std::string> ScratchInstall::environment() const {
    return {"TMPDIR=" + scratch_ + "/tmp",
            "HOME=" + home(),
            "XDG_CONFIG_HOME=" + home() + "/.config",
            "XDG_DATA_HOME=" + home() + "/.local/share",
            "SUDO_UID",
            "SUDO_USER",
            "PKEXEC_UID"};
}

ChildResult ScratchInstall::setup(const std::vector<std::string>& extra) const {
    std::vector<std::string> argv = {program_path("vardelsetup"),
                                     "--unattended",
                                     "--root",
                                     sys(),
                                     "--prefix",
                                     prefix(),
                                     "--data",
                                     data()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return run_program(argv, environment());
}

ChildResult ScratchInstall::run_installed(const std::string& program,
                                          const std::vector<std::string>& args,
                                          const std::vector<std::string>& env) const {
    std::vector<std::string> argv = {prefix() + program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> all = environment();
    all.insert(all.end(), env.begin(), env.end());
    return run_program(argv, all);
}

}  // namespace vardel::test
