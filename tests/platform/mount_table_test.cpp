#include "platform/mount_table.h"

#include <gtest/gtest.h>

#include "tests/support/scratch.h"
#include "tests/support/tiny_fs.h"

namespace vardel::platform {
namespace {

TEST(MountTable, ReadsEveryFieldPastTheOptionalOnesAndUndoesEscapes) {
    const char* text =
        "21 26 0:20 / /proc rw,relatime - proc proc rw\n"
        "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 shared:7 - ext3 /dev/root rw\n"
        "90 26 0:51 / /run/vardel/shares/nas/my\\040docs rw - cifs //nas/my\\040docs "
        "rw,vers=3.1.1\n"
        "91 26 0:52 / /mnt/tab\\011and\\134slash rw - cifs \\134\\134nas\\134x rw\n"
        "92 26 0:53 / /mnt/last rw - cifs //nas/last rw";  // no final line end
    auto m = parse_mountinfo(text);
    ASSERT_EQ(m.size(), 5u);
    EXPECT_EQ(m[0].mount_point, "/proc");
    EXPECT_EQ(m[1].root, "/mnt1");
    EXPECT_EQ(m[1].mount_point, "/mnt/parent");
    EXPECT_EQ(m[1].fs_type, "ext3");
    EXPECT_EQ(m[1].source, "/dev/root");
    EXPECT_EQ(m[2].mount_point, "/run/vardel/shares/nas/my docs");
    EXPECT_EQ(m[2].source, "//nas/my docs");
    EXPECT_EQ(m[3].mount_point, "/mnt/tab\tand\\slash");
    EXPECT_EQ(m[3].source, "\\\\nas\\x");
    EXPECT_EQ(m[4].source, "//nas/last");
}

TEST(MountTable, SkipsTornAndMalformedLines) {
    const char* text =
        "\n"
        "garbage\n"
        "36 35 98:0 / /mnt rw - ext3\n"                     // no source
        "37 35 98:0 / /mnt rw master:1 ext3 /dev/sda rw\n"  // no separator
        "38 35 98:0 / /ok rw - tmpfs none rw\n"
        "39 35 98:0 / /to";
    auto m = parse_mountinfo(text);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].mount_point, "/ok");
    EXPECT_EQ(m[0].source, "none");
}

TEST(MountTable, KeepsBackslashesThatAreNotEscapes) {
    EXPECT_EQ(unescape_mount_field("a\\04"), "a\\04");
    EXPECT_EQ(unescape_mount_field("a\\089b"), "a\\089b");
    EXPECT_EQ(unescape_mount_field("\\\\"), "\\\\");
    EXPECT_EQ(unescape_mount_field("x\\101y\\040"), "xAy ");
}

class RealMountTable : public test::ScratchTest {};

TEST_F(RealMountTable, ShowsAFreshMountWithBlanksInItsNames) {
    test::TinyFs fs(path("a mount"), 1 << 20, "//srv/my share");
    if (!fs.ok()) GTEST_SKIP() << fs.why_not();
    bool seen = false;
    for (const auto& e : MountTable().mounts()) {
        if (e.mount_point != path("a mount")) continue;
        seen = true;
        EXPECT_EQ(e.source, "//srv/my share");
        EXPECT_EQ(e.fs_type, "tmpfs");
        EXPECT_EQ(e.root, "/");
    }
    EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace vardel::platform
