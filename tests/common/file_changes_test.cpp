// Installation changes: folders removed without following links, files
// written for a user with that user's rights, and desktop entries whose
// paths need quoting.
#include "common/file_changes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/shell_entries.h"
#include "platform/tree_removal.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel::install {
namespace {

namespace fs = std::filesystem;

class FileChangesTest : public test::ScratchTest {};

TEST_F(FileChangesTest, TreeRemovalDeletesLinksNeverWhatTheyPointTo) {
    write_file("outside/precious", "keep");
    write_file("tree/a/b/c/file", "x");
    fs::create_symlink(path("outside"), path("tree/a/to-outside"));
    fs::create_symlink(path("outside/precious"), path("tree/a/b/to-file"));
    fs::create_symlink(path("nowhere"), path("tree/dangling"));
    fs::create_symlink(path("tree"), path("tree-link"));

    platform::TreeRemoval report;
    int error = 0;
    EXPECT_FALSE(platform::remove_tree(path("tree-link"), report, &error));
    EXPECT_EQ(error, ELOOP);
    EXPECT_TRUE(fs::exists(path("tree/a/b/c/file"))) << "a link to the folder is not the folder";

    EXPECT_TRUE(platform::remove_tree(path("tree") + "/", report, &error)) << error;
    EXPECT_FALSE(fs::exists(fs::symlink_status(path("tree"))));
    EXPECT_EQ(read_file(path("outside/precious")), "keep");
}

TEST_F(FileChangesTest, AUsersBatchRunsWithTheUsersRightsAndReplacesPlantedLinks) {
    if (::geteuid() != 0) GTEST_SKIP() << "changing identity needs root";
    std::optional<platform::Account> nobody = platform::account_by_name("nobody");
    if (!nobody) GTEST_SKIP() << "no account 'nobody'";
    fs::create_directories(path("home/apps"));
    ASSERT_EQ(::chown(path("home").c_str(), nobody->uid, nobody->gid), 0);
    ASSERT_EQ(::chown(path("home/apps").c_str(), nobody->uid, nobody->gid), 0);
    fs::permissions(scratch(), fs::perms::others_exec, fs::perm_options::add);
    write_file("root-only", "secret");
    ::chmod(path("root-only").c_str(), 0600);
    // The user plants a link where the entry goes.
    fs::create_symlink(path("root-only"), path("home/apps/entry.desktop"));

    std::string error = apply_changes(
        {{FileChange::Kind::Write, path("home/apps/entry.desktop"), "[Desktop Entry]\n"}},
        &*nobody);
    EXPECT_EQ(error, "");
    EXPECT_EQ(read_file(path("root-only")), "secret");
    EXPECT_FALSE(fs::is_symlink(path("home/apps/entry.desktop")));
    struct stat st;
    ASSERT_EQ(::stat(path("home/apps/entry.desktop").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, nobody->uid);

    // What the user may not write, the batch may not either, and says so.
    error = apply_changes({{FileChange::Kind::Write, path("root-owned/entry"), "x"}}, &*nobody);
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(path("root-owned")));
}

TEST_F(FileChangesTest, PathsWithBlanksAndPercentSignsAreQuotedForTheDesktop) {
    ProgramLayout layout = ProgramLayout::in_one_folder("/opt/My \"Apps\" 100%/");
    EXPECT_EQ(desktop_exec_argument(layout.programs + "vardelcfg"),
              "\"/opt/My \\\\\"Apps\\\\\" 100%%/vardelcfg\"");
    EXPECT_EQ(unit_exec_argument("/opt/a b/$x%"), "\"/opt/a b/$$x%%\"");
    EXPECT_EQ(unit_exec_argument("/opt/vardel/vardeld"), "/opt/vardel/vardeld");
    std::string entry =
        write_file("Backup Settings.desktop", menu_entry_text(menu_entries()[0], layout));
    test::ChildResult r = test::run_program({"/usr/bin/desktop-file-validate", entry});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
}

}  // namespace
}  // namespace vardel::install
