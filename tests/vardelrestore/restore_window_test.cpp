// The window offscreen: the list's model, opening a set, the view and select
// commands, and an extraction through the dialog with a prompt answered;
// then the real program started on an X server of its own.
#include <QAbstractItemModelTester>
#include <QAction>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableView>
#include <filesystem>

#include "common/destination_names.h"
#include "common/list_file.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "tests/support/child_process.h"
#include "tests/support/qt_support.h"
#include "tests/support/scratch.h"
#include "tests/support/x_display.h"
#include "tests/vardelrestore/restore_support.h"
#include "vardelrestore/last_restore_path.h"
#include "vardelrestore/ui/extract_dialog.h"
#include "vardelrestore/ui/restore_window.h"
#include "vardelrestore/ui/version_model.h"

namespace vardel {
namespace {

using test::SafItem;

class RestoreWindowTest : public test::ScratchTest {
  protected:
    void SetUp() override {
        ScratchTest::SetUp();
        dest_ = path("dest");
        test::write_saf(dest_ + "/B1_1.SAF", {{"/home/a.txt", "a1"}, {"/home/docs/b.txt", "b1"}});
        test::write_saf(dest_ + "/B1_2.SAF", {{"/home/a.txt", "a2"}});
        test::write_whole_file(dest_ + "/L1_2.TXT", format_list_line('A', "/home/docs/") +
                                                        format_list_line('D', "b.txt"));
        test::write_state(dest_, "Home", 0, {{1, 1}, {1, 2}});
        auto set = std::make_unique<BackupSet>();
        set->Name = "Home";
        set->BackupDestination = dest_;
        set->BackuDestinationType = 1;
        set->CyclesToSave = 3;
        set->BackupsPerCycle = 4;
        sets_.add(std::move(set));
    }
    void open(RestoreWindow& w, size_t node) {
        w.select_node(node);
        QEventLoop wait;
        QObject::connect(&w, &RestoreWindow::load_finished, &wait, &QEventLoop::quit);
        w.command(40002)->trigger();
        if (w.busy()) wait.exec();
    }
    QString status(RestoreWindow& w, int part) {
        return w.findChild<QLabel*>(QStringLiteral("status%1").arg(part))->text();
    }

    std::string dest_;
    BackupSetTable sets_;
};

TEST_F(RestoreWindowTest, TheModelShowsTheListAndFollowsItsChanges) {
    VersionTable table;
    for (int i = 0; i < 50; ++i)
        table.add("/d/f" + std::to_string(i % 7), 0, 1 + i % 3, 0, 0, 'S', VersionRecord::File);
    table.finish();
    VersionList list;
    list.build(table, {});
    VersionModel model;
    QAbstractItemModelTester tester(&model,
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    model.set_list(&list);
    EXPECT_EQ(model.rowCount(), 50);
    EXPECT_EQ(model.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "Save #");
    EXPECT_EQ(model.index(1, 0).data().toString(), "");  // a continuation row
    list.build(table, {.latest_only = true});
    model.set_list(&list);
    EXPECT_EQ(model.rowCount(), 7);
    model.set_list(nullptr);
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(RestoreWindowTest, OpensASetAndExtractsThroughTheDialogAnsweringAPrompt) {
    RestoreWindow w(sets_);
    w.show();
    ASSERT_EQ(w.catalogue().size(), 4u);  // set, cycle, two saves
    // A backup file of a set shown already selects that backup.
    w.open_archive_file(QString::fromStdString(dest_ + "/B1_2.SAF"));
    EXPECT_EQ(w.catalogue().size(), 4u);
    EXPECT_EQ(w.current(), 3u);
    w.select_node(0);
    EXPECT_FALSE(w.command(40002)->isEnabled());  // a set node loads nothing
    open(w, 1);
    EXPECT_EQ(status(w, 0), "Home");
    EXPECT_EQ(status(w, 1), "Cycle 1");
    EXPECT_EQ(status(w, 3), "4 lines");
    EXPECT_EQ(status(w, 4), "Ready");
    w.command(40022)->trigger();  // latest version only
    EXPECT_EQ(w.list().size(), 2u);
    EXPECT_TRUE(w.findChild<QAction*>("toolbar40022")->isChecked());
    w.command(40022)->trigger();
    w.command(40014)->trigger();  // newest files
    auto* view = w.findChild<QTableView*>("1000");
    EXPECT_EQ(view->selectionModel()->selectedRows().size(), 2);
    w.command(40012)->trigger();

    write_file("out/a.txt", "mine");
    test::on_next_modal(
        [&](QWidget* d) {
            EXPECT_EQ(d->findChild<QLineEdit*>("1012")->text(), "/home/");
            d->findChild<QLineEdit*>("1014")->setText(QString::fromStdString(path("out")));
            test::on_next_modal(
                [](QWidget* p) {
                    EXPECT_TRUE(test::click_button(p, "No to All"));
                    test::on_next_modal(
                        [](QWidget* q) { EXPECT_TRUE(test::click_button(q, "Yes")); },
                        "Delete File?");
                },
                "Overwrite?");
            test::click_button(d, "OK");
        },
        "Extract Files");
    QString result;
    test::on_next_modal(
        [&](QWidget* box) {
            result = qobject_cast<QMessageBox*>(box)->text();
            box->close();
        },
        "Copy Results");
    w.command(40026)->trigger();
    EXPECT_EQ(result, "Copy completed");
    EXPECT_EQ(read_file(path("out/a.txt")), "mine");
    // Saved in backup 1, deleted in backup 2: written, then deleted when asked.
    EXPECT_FALSE(std::filesystem::exists(path("out/docs/b.txt")));
    EXPECT_TRUE(std::filesystem::is_directory(path("out/docs")));
}

TEST_F(RestoreWindowTest, TheExtractDialogNeedsAPasswordAndAFolder) {
    ExtractDialog d({"/home/a.txt"}, true, ExtractOptions{});
    d.show();
    QString told;
    test::on_next_modal([&](QWidget* box) {
        told = box->windowTitle() + ": " + qobject_cast<QMessageBox*>(box)->text();
        box->close();
    });
    test::click_button(&d, "OK");
    EXPECT_EQ(told, "Missing Info: Archive requires a password to decode");
    EXPECT_TRUE(d.isVisible());
    d.findChild<QLineEdit*>("1027")->setText("pw");
    test::click_button(&d, "OK");  // no folder yet: refused with a beep
    EXPECT_TRUE(d.isVisible());
    d.findChild<QLineEdit*>("1014")->setText(QString::fromStdString(path("out")));
    test::click_button(&d, "OK");
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.options().password, "pw");
    EXPECT_EQ(d.options().overwrite, ExtractOptions::Overwrite::Prompt);
    // Remembered only where the program's key exists already.
    EXPECT_EQ(last_restore_path(), "");
    ASSERT_TRUE(registry::create_key(registry::Root::LocalMachine,
                                     std::string(kProductKey) + "\\vardelrestore"));
    remember_restore_path("/srv/restored");
    EXPECT_EQ(last_restore_path(), "/srv/restored");
}

TEST_F(RestoreWindowTest, TheProgramStartsOnADisplayAndEndsWhenClosed) {
    ASSERT_TRUE(registry::create_key(registry::Root::LocalMachine, kProductKey));
    test::XDisplay display;
    std::vector<std::string> env = display.environment();
    env.push_back("VARDEL_ROOT=" + path("root"));
    test::BackgroundProcess program({test::program_path("vardelrestore")}, env);
    unsigned long window = display.wait_for_window("Backup Extractor");
    std::string shown;
    for (const std::string& c : display.captions()) shown += "'" + c + "' ";
    ASSERT_NE(window, 0u) << "windows shown: " << shown;
    ASSERT_TRUE(display.close_window(window));
    EXPECT_EQ(program.wait(), 0);
}

}  // namespace
}  // namespace vardel
