// The desktop launcher of a set: what desktop-file-validate makes of it, and
// where it goes.
#include "vardelcfg/desktop_shortcut.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "common/installed_program.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel {
namespace {

class DesktopShortcutTest : public test::ScratchTest {
  protected:
    test::ChildResult validate(const std::string& file) {
        return test::run_program({"/usr/bin/desktop-file-validate", file});
    }
};

TEST_F(DesktopShortcutTest, NightlyGetsTheDesignedLauncherWhichAValidatorAccepts) {
    std::string desktop = path("Desktop");
    ASSERT_EQ(DesktopShortcut::create("Nightly", "/opt/vardel/bin/vardelgo", desktop),
              std::nullopt);
    std::string file = desktop + "/Backup 'Nightly' Now.desktop";
    EXPECT_EQ(read_file(file),
              "[Desktop Entry]\nType=Application\nVersion=1.0\nName=Backup 'Nightly' Now\n"
              "Comment=Do backup set 'Nightly'\nExec=\"/opt/vardel/bin/vardelgo\" \"Nightly\"\n"
              "Icon=vardel\nTerminal=false\n");
    test::ChildResult r = validate(file);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0111, 0111u);

    // Again: replaced, not doubled.
    ASSERT_EQ(DesktopShortcut::create("Nightly", "/usr/bin/vardelgo", desktop), std::nullopt);
    EXPECT_NE(read_file(file).find("Exec=\"/usr/bin/vardelgo\""), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(desktop), {}), 1);
}

TEST_F(DesktopShortcutTest, AnyFileNameIsQuotedAndOtherNamesAreRefused) {
    std::string name = "50% \"off\" $HOME `x` C:\\n";
    std::string desktop = path("Desktop");
    ASSERT_EQ(DesktopShortcut::create(name, "/opt/my apps/vardelgo", desktop), std::nullopt);
    std::string file = desktop + "/" + DesktopShortcut::file_name(name);
    std::string text = read_file(file);
    EXPECT_NE(text.find("Exec=\"/opt/my apps/vardelgo\" \"50%% \\\\\"off\\\\\" \\\\$HOME "
                        "\\\\`x\\\\` C:\\\\\\\\n\"\n"),
              std::string::npos)
        << text;
    test::ChildResult r = validate(file);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;

    for (const std::string& bad :
         {std::string("a/b"), std::string("line\nbreak"), std::string(300, 'x')}) {
        std::optional<EditorMessage> m = DesktopShortcut::create(bad, "/bin/true", desktop);
        ASSERT_TRUE(m) << bad;
        EXPECT_EQ(m->caption, "Can't Create Shortcut");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(desktop), {}), 1);
}

TEST_F(DesktopShortcutTest, TheDesktopAndTheProgramAreFoundWhereTheyAre) {
    write_file("config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    std::string home = getenv("HOME") ? getenv("HOME") : "";
    std::string config = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
    setenv("HOME", scratch().c_str(), 1);
    setenv("XDG_CONFIG_HOME", path("config").c_str(), 1);
    std::string desktop = DesktopShortcut::desktop_folder();
    setenv("HOME", home.c_str(), 1);
    if (config.empty())
        unsetenv("XDG_CONFIG_HOME");
    else
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    EXPECT_EQ(desktop, path("Schreibtisch"));

    // In the build tree each program has its own folder.
    std::string built = test::program_path("vardelgo");
    std::string beside_editor =
        std::filesystem::path(test::program_path("vardelcfg")).parent_path();
    EXPECT_EQ(installed_program("vardelgo", path("nowhere"), beside_editor), built);
    EXPECT_EQ(installed_program("vardelgo", "", ""), "./vardelgo");
}

}  // namespace
}  // namespace vardel
