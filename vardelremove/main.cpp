// vardelremove: takes the suite off this machine. The dialog (or
// --unattended) stops and removes the service and sets up the clean-up;
// "-r" is the clean-up itself, run at the next start.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/my_error.h"
#include "gui/administrator.h"
#include "gui/guarded_application.h"
#include "gui/message_box.h"
#include "gui/program_start.h"
#include "platform/process.h"
#include "vardelremove/remove_program.h"
#include "vardelremove/ui/remove_dialog.h"

namespace {

const char* const kHelp =
    "Usage: vardelremove [--root DIR]\n"
    "       vardelremove --unattended [--now] [--root DIR]\n"
    "       vardelremove -r [--user NAME] [--root DIR]\n"
    "  removes Vardel in two phases. The first (the dialog, or --unattended)\n"
    "  stops, disables and removes the service vardelclient.service and the\n"
    "  tray's autostart entries, copies this program to\n"
    "  /var/tmp/vardel-remove/removevardel and registers it with -r for the\n"
    "  next start (the unit vardelcleanup.service). The second (-r) deletes the\n"
    "  install folder (only when it holds vardelnotify), the data folder, the\n"
    "  menu, the .SAF file type and the settings; it never deletes /, a\n"
    "  top-level or system folder, a home, or through a symbolic link.\n"
    "  Logs: /var/tmp/vardel-remove/uninstall_log.txt.\n"
    "  --now          with --unattended: the clean-up at once, no restart needed\n"
    "  --user NAME    with -r: also that user's own menu entries\n"
    "  --root DIR     the system's folders (units, autostart, menu, file type,\n"
    "                 /var/tmp) below DIR instead of /, for a system image or a test\n"
    "  --help, --version\n"
    "Exit status: 0 done, 1 the uninstall failed, 2 bad command line, 255 no\n"
    "installation found or the log could not be made.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace vardel;
    std::vector<std::string> args = gui::arguments(argc, argv);
    if (std::optional<int> done = gui::start_program(args, {"vardelremove", kHelp})) return *done;
    RemoveCommandLine command_line = RemoveCommandLine::parse(args);
    if (!command_line.error.empty()) {
        std::fprintf(stderr, "vardelremove: %s (try --help)\n", command_line.error.c_str());
        return 2;
    }
    try {
        if (command_line.cleanup) return run_cleanup(command_line);
        if (command_line.unattended) return run_unattended_removal(command_line, stdout, stderr);

        gui::GuardedApplication app(argc, argv, QStringLiteral("vardelremove"));
        if (command_line.root.empty() && ::geteuid() != 0) {
            if (gui::offer_restart_as_administrator(
                    QString::fromLatin1(kNeedsAdministratorToRemove), app.arguments().mid(1)))
                return 0;
            return kStartFailed;
        }
        Uninstaller::Options options = remove_options(command_line);
        Uninstaller remover(options, Uninstaller::Phase::Interactive);
        if (std::optional<std::string> stop = remover.start()) {
            gui::message_box(nullptr, QString::fromStdString(*stop), QStringLiteral("Error!"),
                             gui::MessageIcon::Error);
            gui::message_box(nullptr, QStringLiteral("Uninstall failed."),
                             QStringLiteral("Operation aborted"), gui::MessageIcon::Error);
            return kStartFailed;
        }
        int result = 0;
        {
            RemoveDialog dialog(remover);
            result = dialog.exec();
        }
        if (result != 1) return 0;
        // An uninstall from a system image is no reason to restart this machine.
        if (!options.places.is_real()) return 0;
        std::string handler =
            platform::run_program(
                {platform::find_program("xdg-mime"), "query", "default", "x-scheme-handler/mailto"},
                {"PATH=/usr/bin:/bin", "LC_ALL=C"}, std::chrono::seconds(10))
                .output;
        if (handler.find(".desktop") != std::string::npos &&
            gui::message_box(
                nullptr,
                QStringLiteral("If the software failed to meet your expectations, we would like "
                               "to know how we can\nimprove it. Would you like to email us with "
                               "comments or suggestions? (Clicking YES\njust pulls up your "
                               "default mail client with our address inserted)"),
                QStringLiteral("Comments or Suggestions Appreciated"), gui::MessageIcon::Question,
                gui::MessageButtons::YesNo) == gui::MessageAnswer::Yes) {
            platform::run_as(options.user, [] {
                return platform::run_program({platform::find_program("xdg-open"),
                                              "mailto:vardel@brindlecore.example"},
                                             {}, std::chrono::seconds(30))
                    .exit_status;
            });
        }
        if (gui::message_box(nullptr,
                             QStringLiteral("You must reboot your PC to complete the Uninstall. "
                                            "Reboot Now?"),
                             QStringLiteral("Reboot Required"), gui::MessageIcon::Question,
                             gui::MessageButtons::YesNo) == gui::MessageAnswer::Yes) {
            std::string why;
            if (options.services.reboot(&why) != platform::ServiceFailure::None)
                gui::message_box(nullptr,
                                 QStringLiteral("Couldn't initiate reboot -- %1")
                                     .arg(QString::fromStdString(why)),
                                 QStringLiteral("Reboot Failed"), gui::MessageIcon::Error);
        }
        return 0;
    } catch (const MyError& e) {
        std::fprintf(stderr, "Uninstall failed -- %s\n", e.message());
        return e.code();
    }
}
