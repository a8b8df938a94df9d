// Renders the setup box and every page of the installation wizard
// (vardelsetup-*.png), with a scratch folder holding the licence as the
// unpacked payload would.
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>

#include "gui/guarded_application.h"
#include "gui/message_box.h"
#include "gui/screenshot.h"
#include "vardelsetup/payload.h"
#include "vardelsetup/ui/setup_box.h"
#include "vardelsetup/ui/setup_wizard.h"

int main(int argc, char** argv) {
    using namespace vardel;
    QString folder = gui::screenshot_folder(argc, argv);
    gui::GuardedApplication app(argc, argv, QStringLiteral("vardelsetup_screenshots"));
    QTemporaryDir scratch;
    QDir(scratch.path()).mkpath(QLatin1String(PayloadUnpacker::kFolderName));
    QFile::copy(QStringLiteral(VARDEL_EULA_FILE),
                scratch.filePath(QStringLiteral("temp/eula.html")));
    bool ok = true;

    SetupBox box({}, scratch.path().toStdString());
    box.show_progress(QStringLiteral("Extracting files..."), 60);
    ok &= gui::save_screenshot(box, folder, QStringLiteral("vardelsetup-setup-box"));

    auto wizard_for = [&](const char* previous) {
        Installer::Options o{SetupState(), scratch.path().toStdString(), install::SystemPlaces(),
                             platform::Account{1000, 1000, "ann", "/home/ann"},
                             platform::ServiceManager()};
        o.state.set_previous_version(previous);
        return std::make_unique<SetupWizard>(o);
    };
    auto wizard = wizard_for("");
    const struct {
        SetupWizard::Page page;
        const char* name;
    } pages[] = {{SetupWizard::Welcome, "welcome"},
                 {SetupWizard::Licence, "licence"},
                 {SetupWizard::Directories, "directories"},
                 {SetupWizard::Summary, "summary"}};
    for (const auto& p : pages) {
        wizard->show_page_for_screenshot(p.page);
        ok &= gui::save_screenshot(*wizard, folder, QStringLiteral("vardelsetup-") + p.name);
    }
    auto upgrade = wizard_for("1.0");
    upgrade->show_page_for_screenshot(SetupWizard::Summary);
    ok &= gui::save_screenshot(*upgrade, folder, QStringLiteral("vardelsetup-summary-upgrade"));

    const QString steps = QStringLiteral(
        "Starting installation...\n"
        "Create all required dirs... \tDone\n"
        "Copy all files to install dir... \tDone\n"
        "Create registry entries... \tDone\n"
        "Install service... \tDone\n");
    wizard->show_page_for_screenshot(SetupWizard::Installing, steps);
    ok &= gui::save_screenshot(*wizard, folder, QStringLiteral("vardelsetup-installing"));
    wizard->show_page_for_screenshot(
        SetupWizard::Installing,
        steps + QStringLiteral("Setup Auto Starts... \tDone\nCreate menu items... \tDone\n"
                               "Associate icon... \tDone\nCleanup... \tDone\nComplete!\n"),
        1);
    ok &= gui::save_screenshot(*wizard, folder, QStringLiteral("vardelsetup-complete"));
    wizard->show_page_for_screenshot(
        SetupWizard::Installing,
        QStringLiteral("Starting installation...\nCreate all required dirs... \n"
                       "\tCan't create /opt/vardel/ -- Read-only file system\n"
                       "Unanticipated error: failed to create required dirs\n"
                       "Installation aborted\n"),
        0);
    ok &= gui::save_screenshot(*wizard, folder, QStringLiteral("vardelsetup-terminated"));

    auto reboot = gui::build_message_box(
        nullptr,
        QStringLiteral("You must reboot your PC to complete the installation. Reboot Now?"),
        QStringLiteral("Reboot Required"), gui::MessageIcon::Question, gui::MessageButtons::YesNo);
    ok &= gui::save_screenshot(*reboot, folder, QStringLiteral("vardelsetup-reboot"));
    return ok ? 0 : 1;
}
