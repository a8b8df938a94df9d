// vardelinfo: the about box, alone and as every program opens it.
#include <gtest/gtest.h>
#include <QMessageBox>

#include "gui/about_box.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch.h"
#include "tests/support/x_display.h"

namespace vardel {
namespace {

TEST(AboutBox, NamesTheProductItsVersionAndTheLibrariesLoaded) {
    auto box = gui::build_about_box(nullptr, QStringLiteral("Backup Extractor"));
    EXPECT_TRUE(box->text().contains("Vardel Pellin"));
    EXPECT_TRUE(box->text().contains("Version 1.1"));
    EXPECT_TRUE(box->text().contains("Backup Extractor"));
    EXPECT_TRUE(box->informativeText().contains(QStringLiteral("Qt ") + qVersion()));
    EXPECT_TRUE(gui::libraries_text().contains("SQLite 3."));
}

TEST(Vardelinfo, ShowsTheBoxAndEndsWhenItCloses) {
    EXPECT_EQ(
        test::XDisplay().show_and_close({test::program_path("vardelinfo")}, "About Vardel Pellin"),
        "");
}

}  // namespace
}  // namespace vardel
