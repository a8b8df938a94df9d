// vardelsetup: puts the suite on this machine, through the wizard or, with
// --unattended, without windows.
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
#include "vardelsetup/payload_data.h"
#include "vardelsetup/setup_program.h"
#include "vardelsetup/ui/setup_box.h"
#include "vardelsetup/ui/setup_wizard.h"

namespace {

const char* const kHelp =
    "Usage: vardelsetup [--root DIR]\n"
    "       vardelsetup --unattended [--prefix DIR] [--data DIR] [--user] [--root DIR]\n"
    "  installs Vardel: the programs into the install folder (default /opt/vardel/),\n"
    "  logs into the data folder (default /var/lib/vardel/), the service unit\n"
    "  vardelclient.service (enabled, not started), the group vardel, the tray's\n"
    "  autostart entry, the menu \"Vardel Pellin\" and the .SAF file type.\n"
    "  Without --unattended the installation wizard leads through it.\n"
    "  --prefix DIR   the install folder\n"
    "  --data DIR     the data folder\n"
    "  --user         menu and autostart entries for the installing user only\n"
    "  --root DIR     the system's folders (unit, autostart, menu, file type) below\n"
    "                 DIR instead of /, for a system image or a test; needs neither\n"
    "                 root nor a running systemd, and leaves the group undone\n"
    "  --help, --version\n"
    "Exit status: 0 installed (or the wizard cancelled), 1 not installed,\n"
    "2 bad command line.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace vardel;
    std::vector<std::string> args = gui::arguments(argc, argv);
    if (std::optional<int> done = gui::start_program(args, {"vardelsetup", kHelp})) return *done;
    SetupCommandLine command_line = SetupCommandLine::parse(args);
    if (!command_line.error.empty()) {
        std::fprintf(stderr, "vardelsetup: %s (try --help)\n", command_line.error.c_str());
        return 2;
    }
    if (command_line.unattended)
        return run_unattended(command_line, embedded_payload(), stdout, stderr);

    gui::GuardedApplication app(argc, argv, QStringLiteral("vardelsetup"));
    install::SystemPlaces places(command_line.root);
    if (std::optional<std::string> stop = setup_start_check(places)) {
        if (*stop == kNeedsAdministrator)
            return gui::offer_restart_as_administrator(QString::fromStdString(*stop),
                                                       app.arguments().mid(1))
                       ? 0
                       : 1;
        gui::message_box(nullptr, QString::fromStdString(*stop), QStringLiteral("Error!"),
                         gui::MessageIcon::Error);
        return 1;
    }
    Installer::Options options{
        SetupState(), {}, places, platform::invoking_user(), platform::ServiceManager()};
    try {
        options.state = SetupState::from_store();
        options.scratch = make_scratch_folder();
    } catch (const MyError& e) {
        gui::show_error(nullptr, e);
        return 1;
    }
    {
        SetupBox box(embedded_payload(), options.scratch);
        if (box.exec() != QDialog::Accepted) {
            Installer::remove_scratch_files(options.scratch);
            gui::message_box(nullptr, QStringLiteral("Setup for Vardel Installation failed"),
                             QStringLiteral("Fatal Error"), gui::MessageIcon::Error);
            return 1;
        }
    }
    SetupWizard wizard(options);
    if (wizard.exec() != 1) return wizard.failed() ? 1 : 0;

    // An install into a system image is no reason to restart this machine.
    if (!places.is_real()) return 0;
    if (gui::message_box(nullptr,
                         QStringLiteral("You must reboot your PC to complete the installation. "
                                        "Reboot Now?"),
                         QStringLiteral("Reboot Required"), gui::MessageIcon::Question,
                         gui::MessageButtons::YesNo) == gui::MessageAnswer::Yes) {
        std::string why;
        if (options.services.reboot(&why) != platform::ServiceFailure::None)
            gui::message_box(
                nullptr,
                QStringLiteral("Couldn't initiate reboot -- %1").arg(QString::fromStdString(why)),
                QStringLiteral("Reboot Failed"), gui::MessageIcon::Error);
    }
    return 0;
}
