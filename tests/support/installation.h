#pragma once
// An installation made by the real setup program inside a test's scratch
// folder: programs in <scratch>/opt/vardel/, data in <scratch>/data/, the
// system's folders (units, autostart, menus, file type, /var/tmp) below
// <scratch>/sys, the installing user's own folders below <scratch>/home,
// the settings in the test's VARDEL_ROOT. Nothing reaches the machine.
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace vardel::test {

class ScratchInstall {
  public:
    explicit ScratchInstall(std::string scratch);

    std::string prefix() const { return scratch_ + "/opt/vardel/"; }
    std::string data() const { return scratch_ + "/data/"; }
    std::string sys() const { return scratch_ + "/sys"; }
    std::string home() const { return scratch_ + "/home"; }
    // sys() + absolute
    std::string system_path(const std::string& absolute) const { return sys() + absolute; }

    // The children's environment: temporary and user folders in the
    // scratch folder, and no sudo or pkexec user to work for.
    std::vector<std::string> environment() const;

    // vardelsetup --unattended --root sys() --prefix prefix() --data data(), and `extra`.
    ChildResult setup(const std::vector<std::string>& extra = {}) const;
    // A program of the installation with `args`.
    ChildResult run_installed(const std::string& program, const std::vector<std::string>& args,
                              const std::vector<std::string>& env = {}) const;

  private:
    std::string scratch_;
};

}  // namespace vardel::test
