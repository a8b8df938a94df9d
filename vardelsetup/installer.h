#pragma once
// The install itself: the steps that put the unpacked suite on the machine,
// each logged with its title and "\tDone" or an error line, ending in
// "Complete!" or "Installation aborted". The same steps serve the wizard's
// last page (on its worker thread) and the unattended install. System
// places come from a SystemPlaces, so an install can go into a system image
// (a test's scratch folder): then the group, the membership and the reload
// of the running systemd are left to that system and listed, not done.
// One thread; run() once.
#include <functional>
#include <string>
#include <vector>

#include "common/install_layout.h"
#include "common/shell_entries.h"
#include "platform/accounts.h"
#include "platform/service_manager.h"
#include "vardelsetup/setup_state.h"

namespace vardel {

class Installer {
  public:
    static constexpr const char* kLogFile = "install_log.txt";

    struct Options {
        SetupState state;
        // The scratch folder: "temp.zip" and "temp/" with the unpacked files.
        std::string scratch;
        install::SystemPlaces places;
        // Who installs: joins the control group, and gets the desktop
        // pieces when they are for one user only.
        platform::Account user;
        platform::ServiceManager services;
    };
    // Receives each piece of the log as it is written.
    using LogSink = std::function<void(const std::string& text)>;

    Installer(Options options, LogSink sink);

    // Runs every step. True when the suite is installed. The log is also
    // saved as the scratch folder's "install_log.txt".
    bool run();

    // The whole log so far.
    const std::string& log_text() const { return log_; }
    // Commands for the system itself that an install into an image leaves
    // undone ("groupadd --system vardel").
    const std::vector<std::string>& left_to_system() const { return left_to_system_; }

    // The scratch folder's "temp.zip" and "temp/" removed (Cancel does it
    // too), and the folder itself when `folder_too` (no log to keep).
    static void remove_scratch_files(const std::string& scratch, bool folder_too = true);

  private:
    void write(const std::string& text);
    void step(const char* title, void (Installer::*body)());
    void create_folders();
    void copy_files();
    void write_store();
    void install_service();
    void control_group();
    void auto_starts();
    void menu_items();
    void associate();
    void cleanup();
    void replace_files();
    // Runs a system command when installing into the running system, lists
    // it otherwise; the failure's text or "".
    std::string system_command(const std::vector<std::string>& argv);

    std::string source(const char* name) const;
    // An unpacked file's contents ("" when it cannot be read).
    std::string payload_text(const char* name) const;
    install::ProgramLayout layout() const;

    Options o_;
    LogSink sink_;
    std::string log_;
    std::vector<std::string> left_to_system_;
};

}  // namespace vardel
