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
    test::XDisplay x;
    test::BackgroundProcess p({test::program_path("vardelinfo")}, x.environment());
    unsigned long w = x.wait_for_window("About Vardel Pellin");
    EXPECT_NE(w, 0u) << ::testing::PrintToString(x.captions());
    if (w) {
        EXPECT_TRUE(x.close_window(w));
    }
    EXPECT_EQ(p.wait(), 0);
}

}  // namespace
}  // namespace vardel
