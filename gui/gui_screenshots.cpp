// Renders gui/'s own windows: the error box every program shows and the
// about box.
#include <QMessageBox>

#include "gui/about_box.h"
#include "gui/guarded_application.h"
#include "gui/message_box.h"
#include "gui/screenshot.h"

int main(int argc, char** argv) {
    using namespace vardel::gui;
    QString folder = screenshot_folder(argc, argv);
    GuardedApplication app(argc, argv, QStringLiteral("gui_screenshots"));
    bool ok = true;
    auto error = build_message_box(nullptr,
                                   QStringLiteral("Backup Set 'Nightly' is currently in use by "
                                                  "another program (possibly the backup process"),
                                   kErrorCaption, MessageIcon::Error);
    ok &= save_screenshot(*error, folder, QStringLiteral("gui-error-box"));
    auto about = build_about_box(nullptr, QStringLiteral("Backup Extractor"));
    ok &= save_screenshot(*about, folder, QStringLiteral("gui-about-box"));
    return ok ? 0 : 1;
}
