// The installation wizard: its navigation, an install through its last
// page, and the program on an X server of its own.
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>

#include <filesystem>

#include "gui/log_pane.h"
#include "tests/support/installation.h"
#include "tests/support/qt_support.h"
#include "tests/support/scratch.h"
#include "tests/support/x_display.h"
#include "vardelsetup/payload.h"
#include "vardelsetup/ui/setup_wizard.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;

class WizardTest : public test::ScratchTest {
  protected:
    void SetUp() override {
        ScratchTest::SetUp();
        install_ = std::make_unique<test::ScratchInstall>(scratch());
        payload_ =
            test::read_whole_file(std::string(VARDEL_BUILD_DIR) + "/vardelsetup/payload.zip");
        fs::create_directories(path("work"));
        PayloadUnpacker unpacker(
            {reinterpret_cast<const unsigned char*>(payload_.data()), payload_.size()},
            path("work"));
        ASSERT_TRUE(unpacker.run()) << unpacker.error();
        options_ = {SetupState(), path("work"), install::SystemPlaces(install_->sys()),
                    platform::Account{0, 0, "root", install_->home()}, platform::ServiceManager()};
    }
    QPushButton* button(SetupWizard& w, const char* name) {
        return w.findChild<QPushButton*>(name);
    }

    std::unique_ptr<test::ScratchInstall> install_;
    std::string payload_;
    Installer::Options options_;
};

TEST_F(WizardTest, NextWaitsForTheAgreementAndUsableFolders) {
    SetupWizard w(options_);
    w.show();
    EXPECT_FALSE(button(w, "back")->isEnabled());
    w.next();
    ASSERT_EQ(w.page(), SetupWizard::Licence);
    EXPECT_FALSE(button(w, "next")->isEnabled());
    EXPECT_TRUE(w.findChild<QTextEdit*>("eula")->toPlainText().contains("End-User License"));
    w.findChild<QCheckBox*>("agree")->setChecked(true);
    EXPECT_TRUE(button(w, "next")->isEnabled());
    w.next();
    ASSERT_EQ(w.page(), SetupWizard::Directories);

    auto* programs = w.findChild<QLineEdit*>("programs");
    EXPECT_EQ(programs->text(), "/opt/vardel/");
    programs->clear();
    EXPECT_FALSE(button(w, "next")->isEnabled());
    programs->setText("opt/vardel");
    QString refusal;
    test::on_next_modal([&](QWidget* box) {
        refusal = qobject_cast<QMessageBox*>(box)->text();
        qobject_cast<QMessageBox*>(box)->accept();
    });
    w.next();
    EXPECT_EQ(w.page(), SetupWizard::Directories);
    EXPECT_TRUE(refusal.contains("not a full path")) << refusal.toStdString();

    programs->setText(QString::fromStdString(install_->prefix() + "//"));
    w.findChild<QLineEdit*>("data")->setText(QString::fromStdString(path("data")));
    w.next();
    ASSERT_EQ(w.page(), SetupWizard::Summary);
    EXPECT_EQ(w.findChild<QLabel*>("install_type")->text(), "New");
    EXPECT_EQ(w.findChild<QLabel*>("install_dir")->text().toStdString(), install_->prefix());
    EXPECT_EQ(w.findChild<QLabel*>("data_path")->text().toStdString(), path("data/"));
    EXPECT_EQ(button(w, "next")->text(), "Install");
    w.back();
    EXPECT_EQ(w.page(), SetupWizard::Directories);
    EXPECT_EQ(button(w, "next")->text(), "&Next >");

    // Cancel takes the unpacked files away and installs nothing.
    button(w, "cancel")->click();
    EXPECT_EQ(w.result(), 0);
    EXPECT_FALSE(fs::exists(path("work/temp")));
    EXPECT_FALSE(fs::exists(install_->prefix()));
}

TEST_F(WizardTest, InstallsOnItsLastPageWithEveryButtonHeldUntilTheEnd) {
    options_.state.set_folders(install_->prefix(), path("data"));
    SetupWizard w(options_);
    w.show();
    w.next();
    w.findChild<QCheckBox*>("agree")->setChecked(true);
    w.next();
    w.next();
    w.next();
    ASSERT_EQ(w.page(), SetupWizard::Installing);
    EXPECT_FALSE(button(w, "cancel")->isEnabled());
    EXPECT_FALSE(button(w, "back")->isEnabled());
    auto* heading = w.findChild<QLabel*>("heading");
    ASSERT_TRUE(test::pump_until([&] { return heading->text() != "Installing Vardel Client..."; }));
    EXPECT_EQ(heading->text(), "Installation Complete");
    EXPECT_EQ(button(w, "next")->text(), "Done");
    EXPECT_TRUE(button(w, "next")->isEnabled());
    EXPECT_TRUE(
        w.findChild<gui::LogPane*>("log")->toPlainText().contains("Cleanup... \tDone\nComplete!"));
    EXPECT_TRUE(fs::exists(install_->prefix() + "vardelnotify"));
    button(w, "next")->click();
    EXPECT_EQ(w.result(), 1);
}

TEST(Vardelsetup, ShowsTheWizardAndEndsWhenItIsClosed) {
    std::string scratch = test::make_temp_dir();
    test::ScratchInstall install(scratch);
    std::vector<std::string> env = install.environment();
    env.push_back("VARDEL_ROOT=" + scratch + "/store");
    EXPECT_EQ(test::XDisplay().show_and_close(
                  {test::program_path("vardelsetup"), "--root", install.sys()},
                  "Vardel Installation Wizard", env),
              "");
    EXPECT_FALSE(fs::exists(install.prefix())) << "closing the wizard installs nothing";
    test::remove_tree(scratch);
}

}  // namespace
}  // namespace vardel
