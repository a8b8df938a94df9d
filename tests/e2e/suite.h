#pragma once
// The suite as a person has it: installed by the real setup program into the
// test's scratch folder (ScratchInstall), the installed service running on
// the test's VARDEL_ROOT, and the installed programs run as processes.
// Helpers for the trees backed up and restored: a snapshot of a folder's
// files (bytes, modification time, permission bits) to compare a restore with.
#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/installation.h"
#include "tests/support/scratch.h"

namespace vardel::test {

struct TreeItem {
    std::string bytes;
    int64_t mtime = 0;
    mode_t mode = 0;
    bool operator==(const TreeItem&) const = default;
};
// Regular files below a folder, by path relative to it.
using Tree = std::map<std::string, TreeItem>;
Tree snapshot(const std::string& root);
// "" when `got` holds exactly `want`; else what differs, for a failure message.
// Permission bits are compared only with `modes`.
std::string tree_difference(const Tree& want, const Tree& got, bool modes = true);

// A program's output split at its line ends.
std::vector<std::string> lines(const std::string& out);

// Resident memory of a process in KiB (VmRSS), 0 when it is gone.
long rss_kib(pid_t pid);

class SuiteTest : public ScratchTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    ScratchInstall& install() { return *install_; }
    std::string program(const std::string& name) const { return install_->prefix() + name; }
    // An installed program with `args`, standard input `input`, run to its end.
    ChildResult run(const std::string& name, const std::vector<std::string>& args,
                    const std::string& input = {},
                    std::chrono::milliseconds timeout = std::chrono::seconds(120));
    // A program in the background, its output into `out` (a file).
    std::unique_ptr<BackgroundProcess> start(const std::string& name,
                                             const std::vector<std::string>& args,
                                             const std::string& out,
                                             const std::vector<std::string>& launcher = {});

    // Starts the installed `vardeld -i` (output in scratch()/vardeld.out) and
    // waits until its socket answers. `launcher` goes in front of it.
    bool start_service(const std::vector<std::string>& launcher = {});
    // `vardelctl shutdown` and the service's exit code (-2: still running).
    int shut_down();
    void kill_service();
    bool service_running() { return service_ && service_->running(); }
    pid_t service_pid() const { return service_ ? service_->pid() : -1; }
    std::string service_output() const { return read_whole_file(path("vardeld.out")); }
    // The service's log files, in number order.
    std::string log_text() const;

    // Imports a set file written from `text`; fails the test when refused.
    void import_sets(const std::string& text);
    // The whole list of a set (vardelrestore --list ...), one row a line.
    ChildResult list(const std::vector<std::string>& args);

  private:
    std::unique_ptr<ScratchInstall> install_;
    std::unique_ptr<BackgroundProcess> service_;
};

}  // namespace vardel::test
