#include "platform/file_info.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/file.h"
#include "tests/support/scratch.h"

namespace vardel::platform {
namespace {

class FileInfoTest : public test::ScratchTest {};

TEST_F(FileInfoTest, AttributesFollowTheLinuxRules) {
    std::string plain = write_file("a.txt", "x");
    std::string hidden = write_file(".hidden", "x");
    std::string ro = write_file("ro.txt", "x");
    ::chmod(ro.c_str(), 0444);
    ::symlink("a.txt", path("link").c_str());
    ::mkfifo(path("fifo").c_str(), 0644);
    FileInfo fi;
    ASSERT_TRUE(stat_path(plain, fi));
    EXPECT_EQ(fi.attributes, kAttrNormal);
    ASSERT_TRUE(stat_path(hidden, fi));
    EXPECT_EQ(fi.attributes, kAttrHidden);
    ASSERT_TRUE(stat_path(ro, fi));
    EXPECT_EQ(fi.attributes, kAttrReadOnly);
    ASSERT_TRUE(stat_path(scratch(), fi));
    EXPECT_EQ(fi.attributes, kAttrDirectory);
    ASSERT_TRUE(stat_path(path("link"), fi));
    EXPECT_EQ(fi.kind, FileInfo::Kind::Symlink);
    EXPECT_TRUE(fi.attributes & kAttrSystem);
    ASSERT_TRUE(stat_path(path("fifo"), fi));
    EXPECT_TRUE(fi.attributes & kAttrSystem);
    int err = 0;
    EXPECT_FALSE(stat_path(path("missing"), fi, &err));
    EXPECT_EQ(err, ENOENT);
}

TEST_F(FileInfoTest, FileTimesRoundTripAndSetTheModificationTime) {
    EXPECT_EQ(filetime_from_unix(0, 0), 116444736000000000ULL);
    int64_t s, ns;
    unix_from_filetime(filetime_from_unix(1700000000, 123456700), s, ns);
    EXPECT_EQ(s, 1700000000);
    EXPECT_EQ(ns, 123456700);

    std::string f = write_file("t.txt", "x");
    uint64_t when = filetime_from_unix(1500000000, 500000000);
    ASSERT_TRUE(set_file_times(f, when, when));
    FileInfo fi;
    ASSERT_TRUE(stat_path(f, fi));
    EXPECT_EQ(fi.mtime_sec, 1500000000);
    EXPECT_EQ(fi.times.last_write, when);
    EXPECT_EQ(fi.times.last_access, when);
}

TEST_F(FileInfoTest, OpeningAFifoForReadingDoesNotBlock) {
    ::mkfifo(path("fifo").c_str(), 0644);
    File f;
    ASSERT_TRUE(f.open(path("fifo"), OpenMode::Read));
    FileInfo fi;
    ASSERT_TRUE(stat_descriptor(f.fd(), "fifo", fi));
    EXPECT_EQ(fi.kind, FileInfo::Kind::Other);
}

TEST_F(FileInfoTest, WriteAllReportsAFullDisk) {
    File f;
    ASSERT_TRUE(f.open("/dev/full", OpenMode::ReadWrite));
    char buf[100] = {};
    EXPECT_FALSE(f.write_all(buf, sizeof buf));
    EXPECT_EQ(f.error(), ENOSPC);
}

}  // namespace
}  // namespace vardel::platform
