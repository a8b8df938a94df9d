// Renders the settings editor as a user sees it: the window on each of its
// ten pages, the schedule dialog and the editor's small dialogs, over a
// settings store of sample sets made in a scratch folder.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdlib>
#include <memory>

#include "common/general_settings.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "gui/guarded_application.h"
#include "gui/message_box.h"
#include "gui/path_browser.h"
#include "gui/screenshot.h"
#include "platform/registry.h"
#include "vardelcfg/editor_state.h"
#include "vardelcfg/ui/editor_boxes.h"
#include "vardelcfg/ui/editor_window.h"
#include "vardelcfg/ui/schedule_dialog.h"

namespace {

using namespace vardel;

std::unique_ptr<BackupSet> sample(const char* name, int32_t interval) {
    auto s = std::make_unique<BackupSet>();
    s->Name = name;
    s->IntervalType = interval;
    return s;
}

GeneralSettings sample_settings() {
    GeneralSettings g;
    g.LogFilePath = "/var/log/vardel/";
    g.MailOldLog = true;
    g.MailLogEmail = "admin@example.org";
    g.SendEmailOnCompletion = true;
    g.CompletionEmail = "backups@example.org";
    g.EncodingPassword = "secret";
    g.ShareLogin = "backup";
    g.SharePassword = "secret";
    g.SMTPHost = "mail.example.org:587";
    g.FromEmail = "vardel@example.org";

    auto nightly = sample("Nightly", INTERVAL_DAILY);
    nightly->BackupType = BACKUP_INCREMENTAL;
    nightly->BackupsPerCycle = 7;
    nightly->BackupDestination = "/srv/backups/nightly";
    nightly->StartTime = 2 * 3600;
    nightly->BackupDirs = "/home\r\n/etc\r\n/var/www";
    nightly->ExcludeFiles = "/home/ann/.cache";
    nightly->IncludeMasks = "*";
    nightly->ExcludeMasks = "*.tmp\r\n*.bak\r\n~*";
    nightly->TrackDeletedFiles = true;
    nightly->ExecuteBeforeStart = "/usr/local/bin/dump-databases";
    nightly->ExecuteOnFailure = "/usr/local/bin/page-admin";
    auto photos = sample("Photos", INTERVAL_WEEKLY);
    photos->IntervalDays = "+--+---";
    photos->SaveFormat = SAVE_ZIP;
    photos->PasswordEncode = true;
    photos->BackupDestination = "//nas/backups/photos";
    photos->StartTime = 9 * 3600;
    photos->RepeatEvery = 90 * 60;
    photos->RepeatUntil = 18 * 3600;
    photos->BackupDirs = "/home/ann/Pictures";
    auto month = sample("Month end", INTERVAL_MONTHLY);
    month->MonthList = "+-------------+---------------+";
    month->SaveFormat = SAVE_DISCRETE;
    month->BackupType = BACKUP_DIFFERENTIAL;
    month->BackupsPerCycle = 12;
    month->BackupDestination = "/mnt/usb/archive";
    month->StartTime = 23 * 3600 + 30 * 60;
    month->BackupDirs = "/srv/accounts";
    auto logon = sample("Documents at logon", INTERVAL_ON_LOGON);
    logon->Enabled = false;
    logon->BackupDestination = "/srv/backups/documents";
    logon->BackupDirs = "/home/ann/Documents";
    for (auto* s : {&nightly, &photos, &month, &logon}) g.backup_sets().add(std::move(*s));
    return g;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vardel;
    QString folder = gui::screenshot_folder(argc, argv);
    // Nothing here may touch the machine's own settings.
    QTemporaryDir scratch;
    if (!scratch.isValid()) return 1;
    setenv("VARDEL_ROOT", scratch.path().toLocal8Bit().constData(), 1);
    gui::GuardedApplication app(argc, argv, QStringLiteral("vardelcfg_screenshots"));

    registry::Store store = registry::current_store(registry::Transaction::Mode::Write);
    registry::create_key(store, registry::Root::LocalMachine, kProductKey);
    GeneralSettings settings = sample_settings();
    settings.save(store);
    settings.load(store);
    EditorState state(std::move(settings), EditorState::Options{store, "/var/lib/vardel", false});
    EditorWindow window(state);

    bool ok = true;
    auto shot = [&](QWidget& w, const QString& name) {
        ok &= gui::save_screenshot(w, folder, QStringLiteral("vardelcfg-") + name);
    };
    const char* const names[kPageCount] = {
        "logs",        "user-interaction", "security",   "locking", "servers",
        "backup-type", "destination",      "scheduling", "files",   "actions"};
    for (int p = 0; p < kFirstSetPage; ++p) {
        state.show_page(p);
        shot(window, QString::fromLatin1(names[p]));
    }
    // Each set page on the set it shows best (the store lists them by name:
    // Documents at logon, Month end, Nightly, Photos).
    const int set_for_page[] = {2, 3, 3, 2, 2};
    for (int p = kFirstSetPage; p < kPageCount; ++p) {
        state.choose_set(set_for_page[p - kFirstSetPage], p);
        shot(window, QString::fromLatin1(names[p]));
    }
    state.choose_set(1, PAGE_SCHEDULING);
    shot(window, QStringLiteral("scheduling-monthly"));
    window.resize(1280, 720);
    state.choose_set(2, PAGE_FILES);
    shot(window, QStringLiteral("files-1280x720"));

    ScheduleDialog schedule(state.settings().backup_sets());
    schedule.select_row(2);
    shot(schedule, QStringLiteral("schedule"));
    DestinationWarning warning(nullptr, QString::fromLatin1(kMappedDriveWarning), nullptr);
    shot(warning, QStringLiteral("destination-warning"));
    auto contact = build_contact_box(nullptr);
    shot(*contact, QStringLiteral("contact"));
    auto credits = build_credits_box(nullptr);
    shot(*credits, QStringLiteral("credits"));
    gui::PathBrowser browser(nullptr, QStringLiteral("Select Directory/file to backup"),
                             gui::PathBrowser::Offers::FoldersAndFiles, QStringLiteral("/usr"));
    // The file system is read in the background: give it a moment.
    browser.show();
    QElapsedTimer loading;
    loading.start();
    while (loading.elapsed() < 700) QApplication::processEvents(QEventLoop::AllEvents, 50);
    shot(browser, QStringLiteral("browse-include"));
    auto quit =
        gui::build_message_box(nullptr, QStringLiteral("Save Changes?"), QStringLiteral("Quit"),
                               gui::MessageIcon::Question, gui::MessageButtons::YesNoCancel);
    shot(*quit, QStringLiteral("save-changes"));

    // The "Logs" and "Available Backups" branches over logs and a
    // destination made in the scratch folder.
    {
        QDir dir(scratch.path());
        dir.mkpath(QStringLiteral("logs"));
        dir.mkpath(QStringLiteral("nightly"));
        auto put = [&](const QString& rel, const QByteArray& text) {
            QFile f(dir.filePath(rel));
            ok &= f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
        };
        put(QStringLiteral("logs/LOG_0.txt"), "INFO      Vardeld started\r\n");
        put(QStringLiteral("logs/LOG_1.txt"), "INFO      Vardeld started\r\n");
        QByteArray ini = "\r\n[BACKUPSET]\r\nNAME=Nightly\r\n";
        for (int k = 1; k <= 2; ++k)
            for (int m = 1; m <= (k == 1 ? 7 : 3); ++m)
                ini += QStringLiteral("BACKUPINSTANCE_%1_%2=%3\r\n")
                           .arg(k)
                           .arg(m)
                           .arg(1733000000 + (k - 1) * 7 * 86400 + (m - 1) * 86400)
                           .toLatin1();
        put(QStringLiteral("nightly/BACKUP.INI"), ini);
        GeneralSettings g = sample_settings();
        g.LogFilePath = dir.filePath(QStringLiteral("logs")).toStdString();
        g.backup_sets().find("Nightly")->BackupDestination =
            dir.filePath(QStringLiteral("nightly")).toStdString();
        EditorState logs_state(std::move(g), EditorState::Options{store, "/var/lib/vardel", false});
        EditorWindow logs_window(logs_state);
        logs_window.resize(1280, 720);
        logs_window.tree()->expandAll();
        logs_window.tree()->collapseItem(logs_window.tree()->topLevelItem(1));
        shot(logs_window, QStringLiteral("logs-and-backups-1280x720"));
    }
    return ok ? 0 : 1;
}
