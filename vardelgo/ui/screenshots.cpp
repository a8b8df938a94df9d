// Renders the "Start a Backup" dialog with a set chosen (vardelgo-*.png).
#include <memory>

#include "gui/guarded_application.h"
#include "gui/screenshot.h"
#include "vardelgo/ui/start_dialog.h"

int main(int argc, char** argv) {
    using namespace vardel;
    QString folder = gui::screenshot_folder(argc, argv);
    gui::GuardedApplication app(argc, argv, QStringLiteral("vardelgo_screenshots"));
    BackupSetTable sets;
    auto add = [&](const char* name, const char* dest, const char* dirs) {
        auto s = std::make_unique<BackupSet>();
        s->Name = name;
        s->BackupDestination = dest;
        s->BackupDirs = dirs;
        sets.add(std::move(s));
    };
    add("Nightly", "/mnt/backup/nightly", "/home/ann\r\n/srv/projects\r\n/etc");
    add("before travel", "/media/usb/backup", "/home/ann/Pictures");
    add("Office hours", "//fileserver/backup/office", "/home/ann/Documents");
    ManualStart starter(sets, [](const std::string&) {});
    StartDialog dialog(starter, "nigh");
    return gui::save_screenshot(dialog, folder, QStringLiteral("vardelgo-start-dialog")) ? 0 : 1;
}
