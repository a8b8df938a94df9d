// The tray's balloons, one of each icon, above and below their anchor, and
// its menu, as a user sees them.
#include <QMenu>

#include "gui/balloon.h"
#include "gui/guarded_application.h"
#include "gui/screenshot.h"
#include "vardelnotify/ui/tray_controller.h"

int main(int argc, char** argv) {
    using namespace vardel;
    QString folder = gui::screenshot_folder(argc, argv);
    gui::GuardedApplication app(argc, argv, QStringLiteral("vardelnotify_screenshots"));
    bool ok = true;
    const QRect screen(0, 0, 1280, 720);
    struct Shot {
        const char* name;
        gui::Balloon::Notice notice;
        QPoint anchor;
    };
    const Shot shots[] = {
        {"balloon-information-above",
         {"Vardel Service", "Backup 'Documents' completed", gui::MessageIcon::Information, 0},
         {1237, 719}},
        {"balloon-warning-below",
         {"Backup In Progress", "Backup 'Photos and Music' is active", gui::MessageIcon::Warning,
          0},
         {1237, 12}},
        {"balloon-error-above",
         {"Vardel Service Error",
          "Backup 'Nightly' failed: Can't open destination "
          "/media/backup-disk/vardel/nightly-archive-of-the-whole-home-folder -- Permission denied",
          gui::MessageIcon::Error, 0},
         {1100, 700}},
        {"balloon-error-below",
         {"No Service", "Can't connect to service", gui::MessageIcon::Error, 0},
         {300, 20}},
        {"balloon-information-below",
         {"Vardel Status", "Service Enabled\r\nNext backup: 'Nightly' at  Sun Jan 05 2025 22:00:00",
          gui::MessageIcon::Information, 0},
         {1237, 12}},
        {"balloon-warning-above",
         {"Vardel Service Alert", "Can't suspend. Backup 'Nightly' in progress",
          gui::MessageIcon::Warning, 0},
         {640, 700}},
    };
    for (const Shot& s : shots) {
        gui::Balloon b(s.notice, s.anchor, screen);
        b.setAttribute(Qt::WA_DeleteOnClose, false);
        ok &= gui::save_screenshot(b, folder, QStringLiteral("vardelnotify-%1").arg(s.name));
    }

    TrayController tray(GeneralSettings(), nullptr, nullptr, TrayController::Options{});
    ok &= gui::save_screenshot(*tray.menu(), folder, QStringLiteral("vardelnotify-menu"));
    return ok ? 0 : 1;
}
