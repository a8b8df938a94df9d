#include <gtest/gtest.h>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>
#include <cstdio>

#include "common/my_error.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "gui/guarded_application.h"
#include "gui/help_opener.h"
#include "gui/message_box.h"
#include "gui/program_start.h"
#include "gui/saved_placement.h"
#include "gui/single_instance.h"
#include "tests/support/child_process.h"
#include "tests/support/qt_support.h"
#include "tests/support/scratch.h"

namespace vardel::gui {
namespace {

class Gui : public test::ScratchTest {};

std::string run_start(const std::vector<std::string>& args, std::optional<int>& status) {
    std::FILE* out = std::tmpfile();
    status = start_program(args, {"vardeltest", "Usage: vardeltest [--x]\n"}, out);
    std::rewind(out);
    char buf[256] = {};
    size_t n = std::fread(buf, 1, sizeof buf - 1, out);
    std::fclose(out);
    return std::string(buf, n);
}

TEST_F(Gui, StandardOptionsAreAnsweredAndEverythingElseGoesOn) {
    std::optional<int> status;
    EXPECT_EQ(run_start({"--help"}, status), "Usage: vardeltest [--x]\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(run_start({"--version"}, status), "vardeltest " VARDEL_VERSION "\n");
    EXPECT_EQ(status, 0);
    for (const auto& args : {std::vector<std::string>{}, {"--help", "x"}, {"--list"}}) {
        EXPECT_EQ(run_start(args, status), "");
        EXPECT_FALSE(status);
    }
}

TEST_F(Gui, AnErrorInASlotBecomesTheErrorBoxAndTheWindowGoesOn) {
    QWidget window;
    QPushButton button(&window);
    bool after = false;
    QObject::connect(&button, &QPushButton::clicked, &window, guard(&window, [] {
        throw MyError(OPERATION_FAILED, "Couldn't open SAF file");
    }));
    QObject::connect(&button, &QPushButton::clicked, &window, [&] { after = true; });
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    test::on_next_modal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_TRUE(box);
        text = box->text();
        caption = box->windowTitle();
        icon = box->icon();
        box->accept();
    });
    button.click();
    EXPECT_EQ(text, "Couldn't open SAF file");
    EXPECT_EQ(caption, "Encountered an Error");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(after);
}

TEST_F(Gui, MessageBoxesAnswerWithTheButtonPressedAndCloseAsTheSafeChoice) {
    test::on_next_modal([](QWidget* w) { EXPECT_TRUE(test::click_button(w, "Cancel")); });
    EXPECT_EQ(message_box(nullptr, "Can't create dest file", "Error", MessageIcon::Warning,
                          MessageButtons::OkCancel),
              MessageAnswer::Cancel);
    test::on_next_modal([](QWidget* w) { w->close(); });
    EXPECT_EQ(
        message_box(nullptr, "Go ahead?", "Question", MessageIcon::Question, MessageButtons::YesNo),
        MessageAnswer::No);
}

TEST_F(Gui, PlacementComesBackOnlyWhenItFitsAScreen) {
    QWidget w;
    w.resize(300, 200);
    w.move(40, 30);
    save_placement(w, kRestoreProgram);
    QWidget again;
    restore_placement(again, kRestoreProgram);
    EXPECT_EQ(again.size(), QSize(300, 200));
    EXPECT_EQ(again.pos(), QPoint(40, 30));

    // Off every screen, or too small to use: the window keeps its default.
    auto key = registry::create_key(registry::Root::LocalMachine,
                                    registry::join_path(kProductKey, kRestoreProgram));
    for (const char* bad : {"50000,50000,300,200", "10,10,3,3"}) {
        registry::write_text(*key, kPlacementValue, bad);
        QWidget fresh;
        fresh.resize(123, 111);
        restore_placement(fresh, kRestoreProgram);
        EXPECT_EQ(fresh.size(), QSize(123, 111)) << bad;
    }
}

TEST_F(Gui, HelpOpensAtTheContextOrSaysWhereItLooked) {
    std::string args_file = path("opened");
    std::string opener = write_file("opener.sh", "#!/bin/sh\necho \"$@\" > " + args_file + "\n");
    ASSERT_EQ(::chmod(opener.c_str(), 0755), 0);
    QString empty = QString::fromStdString(path("nothing-here"));
    QString with_help = QString::fromStdString(path("doc"));
    write_file("doc/help.html", "<html></html>");

    HelpOpener missing({empty}, QString::fromStdString(opener));
    QString told;
    test::on_next_modal([&](QWidget* w) {
        told = qobject_cast<QMessageBox*>(w)->text();
        w->close();
    });
    EXPECT_FALSE(missing.open(nullptr, 210));
    EXPECT_TRUE(told.contains("help.html")) << told.toStdString();
    EXPECT_TRUE(told.contains(empty)) << told.toStdString();

    HelpOpener found({empty, with_help}, QString::fromStdString(opener));
    ASSERT_TRUE(found.open(nullptr, 210));
    ASSERT_TRUE(test::wait_until([&] { return !read_file(args_file).empty(); }));
    EXPECT_EQ(read_file(args_file), "file://" + path("doc/help.html") + "#210\n");
}

TEST_F(Gui, OnlyOneCopyHoldsTheInstanceLockUntilItEnds) {
    auto first = std::make_unique<SingleInstance>("unique_vardeltest_1");
    EXPECT_TRUE(first->first());
    EXPECT_FALSE(SingleInstance("unique_vardeltest_1").first());
    first.reset();
    EXPECT_TRUE(SingleInstance("unique_vardeltest_1").first());
}

}  // namespace
}  // namespace vardel::gui
