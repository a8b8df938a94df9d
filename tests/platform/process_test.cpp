#include "platform/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "platform/archive_attribute.h"
#include "platform/thread_priority.h"
#include "tests/support/scratch.h"

namespace vardel::platform {
namespace {

class ProcessTest : public test::ScratchTest {};

TEST_F(ProcessTest, ShellCommandsGiveTheirExitStatus) {
    EXPECT_EQ(run_shell_command("true"), 0);
    EXPECT_EQ(run_shell_command("exit 3"), 3);
    EXPECT_EQ(run_shell_command("echo made > '" + path("out") + "'"), 0);
    EXPECT_EQ(read_file(path("out")), "made\n");
    EXPECT_EQ(run_shell_command("kill -TERM $$"), 128 + 15);
    EXPECT_EQ(run_shell_command("no-such-command-here 2>/dev/null"), 127);
}

TEST_F(ProcessTest, ProgramsGiveTheirOutputStatusAndOnlyTheGivenEnvironment) {
    setenv("VARDEL_SHOULD_NOT_PASS", "1", 1);
    ProgramResult r = run_program({"/bin/sh", "-c", "echo out; echo err >&2; env; exit 4"},
                                  {"ONLY=this"}, std::chrono::seconds(30));
    unsetenv("VARDEL_SHOULD_NOT_PASS");
    EXPECT_EQ(r.exit_status, 4);
    EXPECT_NE(r.output.find("out\n"), std::string::npos);
    EXPECT_NE(r.output.find("err\n"), std::string::npos);
    EXPECT_NE(r.output.find("ONLY=this"), std::string::npos);
    EXPECT_EQ(r.output.find("VARDEL_SHOULD_NOT_PASS"), std::string::npos);

    r = run_program({path("missing")}, {}, std::chrono::seconds(30));
    EXPECT_EQ(r.exit_status, -1);
    EXPECT_EQ(r.error_number, ENOENT);

    r = run_program({"/bin/sleep", "30"}, {}, std::chrono::milliseconds(200));
    EXPECT_EQ(r.exit_status, -1);
    EXPECT_EQ(r.error_number, ETIMEDOUT);
}

TEST_F(ProcessTest, AChildThatLeavesItsOutputOpenStillGivesItsStatus) {
    // The background sleep holds the pipe after the shell has exited.
    ProgramResult r =
        run_program({"/bin/sh", "-c", "sleep 3 & exit 5"}, {}, std::chrono::milliseconds(300));
    EXPECT_EQ(r.exit_status, 5);
}

TEST(ThreadPriority, LowestIsNice19OnThisThreadOnly) {
    int before = current_thread_nice();
    int in_thread = 0;
    std::thread t([&] {
        ASSERT_TRUE(set_current_thread_priority(-2));
        in_thread = current_thread_nice();
    });
    t.join();
    EXPECT_EQ(in_thread, 19);
    EXPECT_EQ(current_thread_nice(), before);
    EXPECT_FALSE(valid_thread_priority(5));
    EXPECT_FALSE(set_current_thread_priority(5));
}

class ArchiveAttribute : public test::ScratchTest {};

TEST_F(ArchiveAttribute, IsSetUntilClearedAndAgainWhenTheFileChanges) {
    std::string f = write_file("a.txt", "one");
    FileInfo fi;
    ASSERT_TRUE(stat_path(f, fi));
    if (archive_state(f, fi) == ArchiveState::Unsupported)
        GTEST_SKIP() << "this file system refuses extended attributes";
    EXPECT_TRUE(archive_attribute_set(f, fi));
    ASSERT_TRUE(clear_archive_attribute(f, fi));
    ASSERT_TRUE(stat_path(f, fi));
    EXPECT_FALSE(archive_attribute_set(f, fi));
    int64_t mtime = fi.mtime_sec;
    EXPECT_EQ(fi.mtime_sec, mtime);  // clearing kept the time

    write_file("a.txt", "two, longer");
    ASSERT_TRUE(stat_path(f, fi));
    EXPECT_TRUE(archive_attribute_set(f, fi));

    // An edit of the same size that puts mtime back still shows (ctime).
    ASSERT_TRUE(clear_archive_attribute(f, fi));
    ASSERT_TRUE(stat_path(f, fi));
    EXPECT_FALSE(archive_attribute_set(f, fi));
    ASSERT_EQ(run_shell_command("cp -p '" + f + "' '" + f + ".old' && printf 'TWO, longer' > '" +
                                f + "' && touch -r '" + f + ".old' '" + f + "'"),
              0);
    ASSERT_TRUE(stat_path(f, fi));
    EXPECT_TRUE(archive_attribute_set(f, fi));

    // A copy with the same times is a new file: a new inode.
    ASSERT_TRUE(clear_archive_attribute(f, fi));
    std::string copy = path("b.txt");
    ASSERT_EQ(run_shell_command("cp -p '" + f + "' '" + copy + "'"), 0);
    FileInfo ci;
    ASSERT_TRUE(stat_path(copy, ci));
    EXPECT_TRUE(archive_attribute_set(copy, ci));
}

}  // namespace
}  // namespace vardel::platform
