// The editor's window offscreen, driven as a user drives it; what it saved
// is read back with vardelreg, as any other program would see it.
#include "vardelcfg/ui/editor_window.h"

#include <gtest/gtest.h>
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>

#include <csignal>
#include <ctime>
#include <functional>
#include <memory>

#include "common/registry.h"
#include "common/suite_names.h"
#include "platform/named_event.h"
#include "tests/support/child_process.h"
#include "tests/support/qt_support.h"
#include "tests/support/running_service.h"
#include "tests/support/x_display.h"
#include "vardelcfg/ui/schedule_dialog.h"

namespace vardel {
namespace {

using registry::Root;

constexpr const char* kProduct = "HKLM\\software\\Brindlecore\\Vardel";
constexpr const char* kNightly = "HKLM\\software\\Brindlecore\\Vardel\\backupsets\\Nightly";

// Opens the editor over the store of the test's VARDEL_ROOT, which the
// programs it starts share.
class EditorWindowTest : public test::ServiceTest {
  protected:
    void SetUp() override {
        test::ServiceTest::SetUp();
        store_ = registry::current_store(registry::Transaction::Mode::Write);
        ASSERT_TRUE(registry::create_key(store_, Root::LocalMachine, kProductKey));
        add_set("Nightly", 1);
    }
    void TearDown() override {
        window_.reset();
        state_.reset();
        test::ServiceTest::TearDown();
    }

    EditorWindow& open() {
        GeneralSettings g;
        g.load(store_);
        reload_ = std::make_unique<platform::NamedEvent>(kReloadEventName);
        state_ = std::make_unique<EditorState>(
            std::move(g), EditorState::Options{store_, scratch(), false, reload_.get()});
        window_ = std::make_unique<EditorWindow>(*state_);
        window_->show();
        return *window_;
    }
    // Selects a page's item in the tree, as a click does: a set page of the
    // first set, or a suite-wide page.
    QWidget* go_to(int page) {
        QTreeWidget* tree = window_->tree();
        QTreeWidgetItem* item = is_set_page(page)
                                    ? tree->topLevelItem(1)->child(0)->child(page - kFirstSetPage)
                                    : tree->topLevelItem(0)->child(page);
        tree->setCurrentItem(item);
        return window_->page(page);
    }
    template <class W>
    W* control(int page, const char* name) {
        W* w = window_->page(page)->findChild<W*>(QString::fromLatin1(name));
        EXPECT_TRUE(w) << name;
        return w;
    }
    void click(const char* button) {
        QTest::mouseClick(window_->findChild<QPushButton*>(QString::fromLatin1(button)),
                          Qt::LeftButton);
    }
    std::string reg_get(const char* key, const char* value) {
        test::ChildResult r =
            test::run_program({test::program_path("vardelreg"), "get", key, value});
        return r.exit_code == 0 ? r.out : "(missing) " + r.err;
    }

    registry::Store store_;
    std::unique_ptr<platform::NamedEvent> reload_;
    std::unique_ptr<EditorState> state_;
    std::unique_ptr<EditorWindow> window_;
};

TEST_F(EditorWindowTest, EveryPageSavesWhatIsEnteredOnIt) {
    open();
    go_to(PAGE_LOGS);
    control<QSpinBox>(PAGE_LOGS, "CycleLogSize")->setValue(250);
    go_to(PAGE_USER_INTERACTION);
    control<QComboBox>(PAGE_USER_INTERACTION, "ClickAction")->setCurrentIndex(3);
    go_to(PAGE_COMPRESSION_SECURITY);
    QTest::keyClicks(control<QLineEdit>(PAGE_COMPRESSION_SECURITY, "ShareLogin"), "backup");
    go_to(PAGE_VALIDATION_LOCKING);
    control<QComboBox>(PAGE_VALIDATION_LOCKING, "FileLockLevel")->setCurrentIndex(FILE_LOCK_NONE);
    EXPECT_FALSE(control<QWidget>(PAGE_VALIDATION_LOCKING, "SmartLocking")->isEnabled());
    go_to(PAGE_SERVERS);
    QTest::keyClicks(control<QLineEdit>(PAGE_SERVERS, "SMTPHost"), "mail.example.org:587");
    go_to(PAGE_BACKUP_TYPE);
    EXPECT_EQ(control<QLineEdit>(PAGE_BACKUP_TYPE, "Name")->text(), "Nightly");
    control<QSpinBox>(PAGE_BACKUP_TYPE, "CyclesToSave")->setValue(9);
    go_to(PAGE_DESTINATION);
    control<QComboBox>(PAGE_DESTINATION, "SaveFormat")->setCurrentIndex(SAVE_ZIP);
    go_to(PAGE_SCHEDULING);
    control<QComboBox>(PAGE_SCHEDULING, "IntervalType")->setCurrentIndex(INTERVAL_DAILY);
    EXPECT_FALSE(control<QWidget>(PAGE_SCHEDULING, "RepeatUntil")->isEnabled());
    QTest::keyClicks(control<QLineEdit>(PAGE_SCHEDULING, "RepeatEvery"), "90");
    EXPECT_TRUE(control<QWidget>(PAGE_SCHEDULING, "RepeatUntil")->isEnabled());
    go_to(PAGE_FILES);
    control<QPlainTextEdit>(PAGE_FILES, "BackupDirs")->setPlainText("/home\n\n/etc");
    go_to(PAGE_ACTIONS);
    QTest::keyClicks(control<QLineEdit>(PAGE_ACTIONS, "ExecuteOnSuccess"), "/bin/true");
    auto* apply = window_->findChild<QPushButton*>("ApplyButton");
    EXPECT_TRUE(apply->isEnabled());
    click("ApplyButton");
    EXPECT_FALSE(apply->isEnabled());

    EXPECT_EQ(reg_get(kProduct, "CycleLogSize"), "250\n");
    EXPECT_EQ(reg_get(kProduct, "ClickAction"), "3\n");
    EXPECT_EQ(reg_get(kProduct, "ShareLogin"), "backup\n");
    EXPECT_EQ(reg_get(kProduct, "FileLockLevel"), "2\n");
    EXPECT_EQ(reg_get(kProduct, "SMTPHost"), "mail.example.org:587\n");
    EXPECT_EQ(reg_get(kNightly, "CyclesToSave"), "9\n");
    EXPECT_EQ(reg_get(kNightly, "SaveFormat"), "1\n");
    EXPECT_EQ(reg_get(kNightly, "RepeatEvery"), "5400\n");
    EXPECT_EQ(reg_get(kNightly, "BackupDirs"), "/home\t/etc\n");
    EXPECT_EQ(reg_get(kNightly, "ExecuteOnSuccess"), "/bin/true\n");
}

TEST_F(EditorWindowTest, CancelWritesNothingAndAsksNothing) {
    open();
    go_to(PAGE_BACKUP_TYPE);
    control<QSpinBox>(PAGE_BACKUP_TYPE, "CyclesToSave")->setValue(9);
    // A question would block the click: one is answered, and noted, here.
    bool asked = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != window_.get()) {
            asked = true;
            modal->close();
        }
    });
    watch.start(10);
    click("CancelButton");
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(window_->result(), QDialog::Rejected);
    QApplication::processEvents();
    EXPECT_FALSE(asked);
    EXPECT_EQ(reg_get(kNightly, "CyclesToSave"), "3\n");
}

TEST_F(EditorWindowTest, LeavingAFieldChecksItAsDesigned) {
    open();
    go_to(PAGE_SCHEDULING);
    control<QComboBox>(PAGE_SCHEDULING, "IntervalType")->setCurrentIndex(INTERVAL_WEEKLY);
    auto* repeat = control<QLineEdit>(PAGE_SCHEDULING, "RepeatEvery");
    QTest::keyClicks(repeat, "soon");
    QString said;
    test::on_next_modal([&](QWidget* w) {
        said = static_cast<QMessageBox*>(w)->text() + "|" + w->windowTitle();
        test::click_button(w, "OK");
    });
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(repeat, &out);
    ASSERT_TRUE(test::wait_until([&] {
        QApplication::processEvents();
        return !said.isEmpty();
    }));
    EXPECT_EQ(said, "Repeat value must be a number or a '##:##' value|Invalid Data");
    EXPECT_EQ(repeat->text(), "soon");

    // A set name that another set has is refused, and the tree keeps the old one.
    add_set("Weekly", 1);
    window_.reset();
    open();
    go_to(PAGE_BACKUP_TYPE);
    auto* name = control<QLineEdit>(PAGE_BACKUP_TYPE, "Name");
    name->setText("weekly");
    said.clear();
    test::on_next_modal([&](QWidget* w) {
        said = static_cast<QMessageBox*>(w)->text();
        test::click_button(w, "OK");
    });
    QApplication::sendEvent(name, &out);
    ASSERT_TRUE(test::wait_until([&] {
        QApplication::processEvents();
        return !said.isEmpty();
    }));
    EXPECT_EQ(said, "There is already a Backup Set named 'Weekly'");
    EXPECT_EQ(window_->tree()->topLevelItem(1)->child(0)->text(0), "Nightly");
}

TEST_F(EditorWindowTest, AClickOnTheMonthGridFlipsTheDayUnderIt) {
    open();
    go_to(PAGE_SCHEDULING);
    control<QComboBox>(PAGE_SCHEDULING, "IntervalType")->setCurrentIndex(INTERVAL_MONTHLY);
    auto* grid = control<QWidget>(PAGE_SCHEDULING, "MonthList");
    ASSERT_TRUE(grid->isVisible());
    grid->resize(7 * 30 + 4, 5 * 20 + 4);
    QTest::mouseClick(grid, Qt::LeftButton, {}, QPoint(2 + 2 * 30 + 15, 2 + 4 * 20 + 10));  // 31
    QTest::mouseClick(grid, Qt::LeftButton, {}, QPoint(2 + 3 * 30 + 15, 2 + 4 * 20 + 10));  // none
    QTest::mouseClick(grid, Qt::LeftButton, {}, QPoint(2 + 15, 2 + 10));                    // 1
    QTest::mouseClick(grid, Qt::LeftButton, {}, QPoint(2 + 15, 2 + 10));  // 1 again
    EXPECT_EQ(value_text(state_->controls(PAGE_SCHEDULING), "MonthList"),
              std::string(30, '-') + "+");
    click("ApplyButton");
    EXPECT_EQ(reg_get(kNightly, "MonthList"), std::string(30, '-') + "+\n");
}

TEST_F(EditorWindowTest, AReadOnlyStoreSaysSoAndNeverSaves) {
    GeneralSettings g;
    g.load(store_);
    state_ = std::make_unique<EditorState>(std::move(g),
                                           EditorState::Options{store_, scratch(), true, nullptr});
    window_ = std::make_unique<EditorWindow>(*state_);
    window_->show();
    EXPECT_EQ(window_->windowTitle(), "Vardel Settings (read-only)");
    go_to(PAGE_BACKUP_TYPE);
    control<QSpinBox>(PAGE_BACKUP_TYPE, "CyclesToSave")->setValue(9);
    QString said;
    test::on_next_modal([&](QWidget* w) {
        said = static_cast<QMessageBox*>(w)->text();
        if (!test::click_button(w, "No")) test::click_button(w, "OK");
    });
    click("OkButton");
    EXPECT_TRUE(said.contains("administrator")) << said.toStdString();
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(reg_get(kNightly, "CyclesToSave"), "3\n");
}

TEST(ScheduleModel, ShowsEachSetsScheduleInTheListsWords) {
    BackupSetTable sets;
    auto weekly = std::make_unique<BackupSet>();
    weekly->Name = "Photos";
    weekly->IntervalType = INTERVAL_WEEKLY;
    weekly->IntervalDays = "+--+---";
    weekly->RepeatEvery = 30;  // under a minute: still shown here
    weekly->BackupDirs = "/a\r\n/b";
    sets.add(std::move(weekly));
    sets.add(std::make_unique<BackupSet>());
    ScheduleModel model(sets);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_EQ(model.rowCount(), 2);
    ASSERT_EQ(model.columnCount(), 8);
    auto cell = [&](int row, int column) { return model.index(row, column).data().toString(); };
    EXPECT_EQ(model.headerData(3, Qt::Horizontal).toString(), "When");
    EXPECT_EQ(cell(0, 3), "Monday,Thursday");
    EXPECT_EQ(cell(0, 5), "00m");
    EXPECT_EQ(cell(0, 7), "/a,/b");
    EXPECT_EQ(cell(1, 3), "Daily");
}

// A save from the editor reaches a running service: it reloads and
// schedules the set the editor made daily.
TEST_F(EditorWindowTest, ARunningServiceReloadsWhatTheEditorSaved) {
    ASSERT_TRUE(start_service()) << service_output();
    open();
    go_to(PAGE_SCHEDULING);
    control<QComboBox>(PAGE_SCHEDULING, "IntervalType")->setCurrentIndex(INTERVAL_DAILY);
    control<QCheckBox>(PAGE_SCHEDULING, "Enabled")->setChecked(true);
    // An hour ago: due tomorrow, never during the test.
    time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    int start = ((local.tm_hour + 23) % 24) * 3600;
    control<QTimeEdit>(PAGE_SCHEDULING, "StartTime")->setTime(QTime(0, 0).addSecs(start));
    click("ApplyButton");
    ASSERT_TRUE(test::wait_until([&] {
        return log_text().find("Reload settings") != std::string::npos;
    })) << log_text();
    test::ChildResult status = test::run_program({test::program_path("vardelctl"), "status"});
    EXPECT_NE(status.out.find("Nightly"), std::string::npos) << status.out;
    EXPECT_EQ(shut_down(), 0);
}

// The real program on a real X server: its window comes, and closing it
// as a window manager does ends the program well.
TEST_F(EditorWindowTest, TheProgramOpensItsWindowAndClosesCleanly) {
    test::XDisplay display;
    test::BackgroundProcess editor({test::program_path("vardelcfg")}, display.environment());
    unsigned long window = display.wait_for_window("Vardel Settings");
    ASSERT_NE(window, 0u) << "captions seen: " << ::testing::PrintToString(display.captions());
    ASSERT_TRUE(display.close_window(window));
    EXPECT_EQ(editor.wait(), 0);
}

}  // namespace
}  // namespace vardel
