// Renders the status window with no service, and during a run with the log
// following it (vardelwatch-*.png).
#include "common/pipe_record.h"
#include "gui/guarded_application.h"
#include "gui/screenshot.h"
#include "vardelwatch/ui/watch_window.h"

int main(int argc, char** argv) {
    using namespace vardel;
    QString folder = gui::screenshot_folder(argc, argv);
    gui::GuardedApplication app(argc, argv, QStringLiteral("vardelwatch_screenshots"));
    bool ok = true;
    {
        // A socket path where nothing listens.
        WatchWindow window(folder.toStdString() + "/no-such.sock");
        window.connect_to_service();
        ok &= gui::save_screenshot(window, folder, QStringLiteral("vardelwatch-no-service"));
    }
    WatchWindow window(folder.toStdString() + "/no-such.sock");
    window.take_record({PIPE_STATUS,
                        "1\r\nVardel Pellin\r\n1.1\r\nannpc\r\n\r\n\r\n1\r\n0\r\n<none>\r\n"
                        "Next backup: 'Nightly' at  Mon Mar 10 2031 02:00:00"});
    ok &= gui::save_screenshot(window, folder, QStringLiteral("vardelwatch-idle"));
    window.take_record({PIPE_BACKUP_STARTING, "Nightly"});
    const char* lines[] = {
        "DEBUG     Starting backup Nightly. Send message\r\n",
        "INFO      Backup 'Nightly' to /mnt/backup/nightly, cycle 2, backup 3\r\n",
        "PROGRESS  Saving /home/ann/Documents/letters/2031-03-09 landlord.odt\r\n",
        "PROGRESS  Saving /home/ann/Documents/taxes/2030/receipts.pdf\r\n",
        "ALERT     File /home/ann/.cache/mozilla/lock is locked; it will be tried again\r\n",
        "PROGRESS  Saving /home/ann/Pictures/2031/03/harbour.jpg\r\n",
    };
    for (const char* line : lines)
        window.take_record({line[0] == 'A' ? uint32_t(PIPE_ALERT) : uint32_t(PIPE_INFO), line});
    ok &= gui::save_screenshot(window, folder, QStringLiteral("vardelwatch-running"));
    return ok ? 0 : 1;
}
