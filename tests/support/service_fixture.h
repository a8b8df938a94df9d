#pragma once
// Tests that drive the real service: a settings store in the test's own
// VARDEL_ROOT, a source tree and a destination, and vardeld started as a
// process against them.
#include <memory>
#include <string>
#include <vector>

#include "common/general_settings.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel::test {

class ServiceTest : public ScratchTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // The installation values (InstallDir, ServerPort) and `settings`, with
    // its sets, saved into the store.
    void save_settings();
    // A set backing up src/ into dest/, or dest/<name>/ with own_folder.
    enum class Destination { Shared, OwnFolder };
    BackupSet& add_set(const std::string& name, Destination d = Destination::Shared);

    // vardeld with these arguments, its output going to vardeld.out.
    void start_service(const std::vector<std::string>& args = {"-i"},
                       const std::vector<std::string>& env = {});
    // Waits until the service answers on its socket.
    bool wait_for_socket();
    // Asks for a shut-down and waits; returns the exit status.
    int shut_down();
    std::string socket_path() const;
    std::string log_text() const;  // every LOG_*.txt, in number order
    std::string output() const;    // what the service printed

    ChildResult run_vardeld(const std::vector<std::string>& args,
                            const std::vector<std::string>& env = {});

    GeneralSettings settings;
    std::string install_dir = "/opt/vardel";
    int server_port = 5500;
    std::unique_ptr<BackgroundProcess> service;
};

}  // namespace vardel::test
