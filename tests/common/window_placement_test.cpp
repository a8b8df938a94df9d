#include "common/window_placement.h"

#include <gtest/gtest.h>

#include "common/registry.h"
#include "common/suite_names.h"
#include "tests/support/scratch.h"

namespace vardel {
namespace {

class Placement : public test::ScratchTest {};

TEST_F(Placement, ASavedPlacementComesBackUnderTheProgramsName) {
    WindowPlacement::save(kRestoreProgram, {10, -5, 640, 480});
    std::optional<registry::Key> k = registry::open_key(
        registry::Root::LocalMachine, "software\\Brindlecore\\Vardel\\vardelrestore");
    ASSERT_TRUE(k);
    EXPECT_EQ(registry::read_text(*k, "Placement", ""), "10,-5,640,480");
    EXPECT_EQ(WindowPlacement::restore("VARDELRESTORE"), (WindowRect{10, -5, 640, 480}));
    EXPECT_FALSE(WindowPlacement::restore(kWatchProgram));
}

TEST_F(Placement, AnEmptyOrBrokenPlacementLeavesTheWindowWhereItWas) {
    std::optional<registry::Key> k = registry::create_key(
        registry::Root::LocalMachine, registry::join_path(kProductKey, kAgendaProgram));
    ASSERT_TRUE(k);
    for (const char* text : {"", "10,20", "a,b,c,d", "1,2,3,", "99999999999,1,1,1"}) {
        registry::write_text(*k, "Placement", text);
        EXPECT_FALSE(WindowPlacement::restore(kAgendaProgram)) << text;
    }
    registry::write_number(*k, "Placement", 5);  // wrong type: swallowed
    EXPECT_FALSE(WindowPlacement::restore(kAgendaProgram));
    EXPECT_EQ(WindowPlacement::parse("1, 2, 3, 4, extra"), (WindowRect{1, 2, 3, 4}));
}

}  // namespace
}  // namespace vardel
