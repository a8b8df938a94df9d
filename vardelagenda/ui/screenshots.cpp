// Renders the schedule list with sets of every kind (vardelagenda-*.png).
#include <memory>

#include "common/setting_names.h"
#include "gui/guarded_application.h"
#include "gui/screenshot.h"
#include "vardelagenda/ui/agenda_window.h"

namespace {

using namespace vardel;

void add(BackupSetTable& table, const char* name, int32_t interval, int32_t start, int32_t every,
         int32_t until, const char* dirs, const char* dest) {
    auto s = std::make_unique<BackupSet>();
    s->Name = name;
    s->IntervalType = interval;
    s->StartTime = start;
    s->RepeatEvery = every;
    s->RepeatUntil = until;
    s->BackupDirs = dirs;
    s->BackupDestination = dest;
    s->IntervalDays = "+-+-+--";
    s->MonthList = "+----------+---------+--------+";
    s->BackupType = interval == INTERVAL_MONTHLY ? BACKUP_FULL : BACKUP_INCREMENTAL;
    table.add(std::move(s));
}

}  // namespace

int main(int argc, char** argv) {
    QString folder = gui::screenshot_folder(argc, argv);
    gui::GuardedApplication app(argc, argv, QStringLiteral("vardelagenda_screenshots"));
    BackupSetTable sets;
    add(sets, "Nightly", INTERVAL_DAILY, 2 * 3600, 0, 0, "/home/ann\r\n/srv/projects",
        "/mnt/backup/nightly");
    add(sets, "Office hours", INTERVAL_WEEKLY, 9 * 3600, 90 * 60, 17 * 3600 + 30 * 60,
        "/home/ann/Documents", "//fileserver/backup/office");
    add(sets, "Month end", INTERVAL_MONTHLY, 23 * 3600, 0, 0, "/srv", "/mnt/archive");
    add(sets, "Before travel", INTERVAL_ON_DEMAND, 0, 0, 0, "/home/ann/Pictures", "/media/usb");
    // Monday 2031-03-10 07:30 on the wall clock.
    Agenda agenda(sets, 1930894200);
    AgendaWindow window(agenda);
    return gui::save_screenshot(window, folder, QStringLiteral("vardelagenda-window")) ? 0 : 1;
}
