// The "Start a Backup" dialog: the remembered set, the refusals, and a run
// started on a real service.
#include <gtest/gtest.h>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include "common/general_settings.h"
#include "tests/support/qt_support.h"
#include "tests/support/running_service.h"
#include "tests/support/x_display.h"
#include "vardelgo/ui/start_dialog.h"

namespace vardel {
namespace {

using test::CollectingClient;

class StartDialogTest : public test::ServiceTest {
  protected:
    void SetUp() override {
        ServiceTest::SetUp();
        add_set("Nightly", 2);
        add_set("before travel", 0);
        add_set("Office", 0);
        settings_.load();
    }
    QComboBox* list(StartDialog& d) { return d.findChild<QComboBox*>("1000"); }

    GeneralSettings settings_;
};

TEST_F(StartDialogTest, ChoosesTheLastSetAndStartsTheChosenOne) {
    ManualStart::write_last("offi");
    ManualStart starter(settings_.backup_sets());
    StartDialog d(starter, ManualStart::read_last());
    ASSERT_EQ(list(d)->count(), 3);
    EXPECT_EQ(list(d)->itemText(0), "before travel");
    EXPECT_EQ(list(d)->currentText(), "Office");

    ASSERT_TRUE(start_service()) << service_output();
    CollectingClient follower(CollectingClient::Asks::Register);
    list(d)->setCurrentText("Nightly");
    EXPECT_EQ(d.findChild<QLineEdit*>("1001")->text().toStdString(), path("sets/Nightly/dest"));
    EXPECT_EQ(d.findChild<QPlainTextEdit*>("1002")->toPlainText().toStdString(),
              path("sets/Nightly/src"));
    d.findChild<QPushButton*>("1")->click();
    EXPECT_EQ(d.result(), 1);
    EXPECT_TRUE(follower.wait_for(PIPE_BACKUP_COMPLETED, "Nightly"));
    EXPECT_EQ(ManualStart::read_last(), "Nightly");
}

// Nothing chosen: a beep and nothing sent. No service: the error is shown,
// the dialog stays, and the set is not remembered.
TEST_F(StartDialogTest, StaysOpenWhenNothingIsChosenOrTheServiceIsAway) {
    int sent = 0;
    ManualStart counting(settings_.backup_sets(), [&](const std::string&) { ++sent; });
    StartDialog d(counting, "");
    d.show();
    EXPECT_EQ(list(d)->currentText(), "");
    d.findChild<QPushButton*>("1")->click();
    EXPECT_EQ(sent, 0);
    EXPECT_TRUE(d.isVisible());

    ManualStart real(settings_.backup_sets());
    StartDialog e(real, "Nightly");
    e.show();
    QString text, caption;
    test::on_next_modal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_TRUE(box);
        text = box->text();
        caption = box->windowTitle();
        box->accept();
    });
    e.findChild<QPushButton*>("1")->click();
    EXPECT_EQ(text, "Couldn't open connection to service");
    EXPECT_EQ(caption, "Encountered an Error");
    EXPECT_TRUE(e.isVisible());
    EXPECT_EQ(ManualStart::read_last(), "");
}

TEST_F(StartDialogTest, WithoutANameTheProgramShowsTheDialog) {
    EXPECT_EQ(test::XDisplay().show_and_close({test::program_path("vardelgo")}, "Start a Backup"),
              "");
}

}  // namespace
}  // namespace vardel
