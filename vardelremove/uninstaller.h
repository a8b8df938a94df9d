#pragma once
// Taking the suite off the machine, in the two phases: the interactive
// phase stops and deletes the service, removes the tray's autostart
// entries, copies this program into a private folder of the temporary
// folder and registers that copy with "-r" for the next start (a one-shot
// systemd unit); the clean-up phase, that copy started with "-r", deletes
// the install folder, the data folder, the menus, the file type and the
// product's settings, each folder only after the RemovalGuard allows it.
// Both phases write a plain-text log. One thread at a time.
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "common/install_layout.h"
#include "platform/accounts.h"
#include "platform/service_manager.h"

namespace vardel {

class Uninstaller {
  public:
    static constexpr const char* kLogFile = "uninstall_log.txt";
    static constexpr const char* kCleanupCopy = "removevardel";
    static constexpr const char* kCleanupUnit = "vardelcleanup.service";
    // The private folder in the temporary folder.
    static constexpr const char* kWorkFolder = "vardel-remove";

    enum class Phase { Interactive, Cleanup };

    struct Options {
        install::SystemPlaces places;
        // Whose autostart entry and menus go.
        platform::Account user;
        platform::ServiceManager services;
        // The program copied for the clean-up phase (this one by default).
        std::string program;
    };
    // Receives each piece of the log view's text (the interactive phase).
    using ViewSink = std::function<void(const std::string& text)>;

    Uninstaller(Options options, Phase phase, ViewSink view = nullptr);
    ~Uninstaller();
    Uninstaller(const Uninstaller&) = delete;
    Uninstaller& operator=(const Uninstaller&) = delete;

    // The start: the work folder and the log file ("Do Inits"), the product
    // key's version, install folder and data folder. The message that ends
    // the start (also written to the log when it is open), or none.
    std::optional<std::string> start();

    // Where the log view's text goes from now on.
    void set_view(ViewSink view) { view_ = std::move(view); }

    // The interactive phase's steps; true when the clean-up is set up.
    bool uninstall();
    // The clean-up phase.
    void cleanup();

    // Writes a message shown to the user into the log, with a line end.
    void log_message(const std::string& text);

    const std::string& work_folder() const { return work_folder_; }
    std::string log_path() const { return work_folder_ + "/" + kLogFile; }
    std::string cleanup_copy() const { return work_folder_ + "/" + kCleanupCopy; }
    const std::string& install_dir() const { return install_dir_; }
    const std::string& data_dir() const { return data_dir_; }

    // The one-shot unit that runs the clean-up copy at the next start.
    std::string cleanup_unit_text() const;

  private:
    void write(const std::string& text, bool view = true);
    void shutdown_service();
    void remove_auto_starts();
    bool register_cleanup();
    void delete_folder(const char* which, const std::string& folder, bool needs_marker);
    void delete_menus();
    void delete_settings();
    void forget_cleanup_unit();
    bool user_is_other() const;

    Options o_;
    Phase phase_;
    ViewSink view_;
    std::FILE* log_ = nullptr;
    std::string work_folder_;
    std::string install_dir_;
    std::string data_dir_;
};

}  // namespace vardel
