// Renders the uninstall dialog before and after the uninstall
// (vardelremove-*.png).
#include "gui/guarded_application.h"
#include "gui/screenshot.h"
#include "vardelremove/ui/remove_dialog.h"

int main(int argc, char** argv) {
    using namespace vardel;
    QString folder = gui::screenshot_folder(argc, argv);
    gui::GuardedApplication app(argc, argv, QStringLiteral("vardelremove_screenshots"));
    Uninstaller remover(
        {install::SystemPlaces(), platform::Account{}, platform::ServiceManager(), {}},
        Uninstaller::Phase::Interactive);
    bool ok = true;
    {
        RemoveDialog dialog(remover);
        ok &= gui::save_screenshot(dialog, folder, QStringLiteral("vardelremove-dialog"));
    }
    {
        RemoveDialog dialog(remover);
        dialog.show_for_screenshot(
            QStringLiteral("Begin Uninstall...\nShutdown service... \tDone\n"
                           "Delete auto-start entries... \tDone\n"
                           "Set up reboot cleanup process... \tDone\n\nUninstall Complete!\n"),
            true);
        ok &= gui::save_screenshot(dialog, folder, QStringLiteral("vardelremove-done"));
    }
    return ok ? 0 : 1;
}
