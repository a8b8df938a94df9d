#include <gtest/gtest.h>

#include "platform/registry.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel {
namespace {

class Vardelreg : public test::ScratchTest {
  protected:
    test::ChildResult reg(std::vector<std::string> args) {
        args.insert(args.begin(), test::program_path("vardelreg"));
        return test::run_program(args);
    }
    static constexpr const char* kSet = "HKLM\\software\\Brindlecore\\Vardel\\backupsets\\Nightly";
};

TEST_F(Vardelreg, SetGetListAndDeleteAValue) {
    EXPECT_EQ(reg({"set", kSet, "CyclesToSave", "--dword", "5"}).exit_code, 0);
    EXPECT_EQ(reg({"set", kSet, "BackupThreadPriority", "--dword", "0xFFFFFFFE"}).exit_code, 0);
    EXPECT_EQ(reg({"set", kSet, "BackupDirs", "--sz", "/home\t/etc"}).exit_code, 0);

    test::ChildResult r = reg({"get", kSet, "cyclestosave"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "5\n");
    EXPECT_EQ(reg({"get", kSet, "BackupThreadPriority"}).out, "-2\n");
    EXPECT_EQ(reg({"get", kSet, "BackupDirs"}).out, "/home\t/etc\n");

    r = reg({"list", "HKEY_LOCAL_MACHINE\\software\\brindlecore\\vardel\\backupsets"});
    EXPECT_EQ(r.out, "Nightly\\\n");
    r = reg({"list", kSet});
    EXPECT_EQ(r.out,
              "BackupDirs\tREG_SZ\t/home\\t/etc\n"
              "BackupThreadPriority\tREG_DWORD\t-2\n"
              "CyclesToSave\tREG_DWORD\t5\n");

    EXPECT_EQ(reg({"delete", kSet, "CyclesToSave"}).exit_code, 0);
    r = reg({"get", kSet, "CyclesToSave"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("value not found: CyclesToSave"), std::string::npos) << r.err;
}

TEST_F(Vardelreg, DeletingAKeyTakesEverythingBelowIt) {
    reg({"set", kSet, "StartTime", "--dword", "36000"});
    EXPECT_EQ(reg({"delete", "HKLM\\software\\Brindlecore\\Vardel\\backupsets"}).exit_code, 0);
    test::ChildResult r = reg({"list", kSet});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("key not found"), std::string::npos);
    EXPECT_EQ(reg({"delete", "HKLM\\software\\Brindlecore\\Vardel\\backupsets"}).exit_code, 1);
    EXPECT_EQ(reg({"delete", "HKLM"}).exit_code, 1);
}

TEST_F(Vardelreg, ExportWritesTheSubtreeAsRegeditText) {
    reg({"set", "HKLM\\software\\Brindlecore\\Vardel", "ServerPort", "--dword", "2820"});
    reg({"set", "HKLM\\software\\Brindlecore\\Vardel", "InstallDir", "--sz", "C:\\Vardel \"x\""});
    reg({"set", kSet, "", "--sz", "default"});
    reg({"set", kSet, "Odd", "--sz", "two\nlines"});
    test::ChildResult r = reg({"export", "HKLM\\software\\Brindlecore\\Vardel"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out,
              "REGEDIT4\n"
              "\n[HKEY_LOCAL_MACHINE\\software\\Brindlecore\\Vardel]\n"
              "\"InstallDir\"=\"C:\\\\Vardel \\\"x\\\"\"\n"
              "\"ServerPort\"=dword:00000b04\n"
              "\n[HKEY_LOCAL_MACHINE\\software\\Brindlecore\\Vardel\\backupsets]\n"
              "\n[HKEY_LOCAL_MACHINE\\software\\Brindlecore\\Vardel\\backupsets\\Nightly]\n"
              "@=\"default\"\n"
              "\"Odd\"=hex(1):74,77,6f,0a,6c,69,6e,65,73\n");
}

TEST_F(Vardelreg, BadCommandLinesAndBadValuesAreRefusedClearly) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{}, 2, "Usage"},
        {{"frobnicate", "HKLM"}, 2, "unknown command 'frobnicate'"},
        {{"set", kSet, "X", "--dword", "twelve"}, 2, "not a 32-bit number: 'twelve'"},
        {{"set", kSet, "X", "--dword", "4294967296"}, 2, "not a 32-bit number"},
        {{"set", kSet, "X", "--qword", "1"}, 2, "usage"},
        {{"get", "HKXX\\software"}, 2, "unknown root key 'HKXX'"},
        {{"get", "HKCU\\software\\none", "X"}, 1, "key not found: HKCU\\software\\none"},
    };
    for (const Case& c : cases) {
        test::ChildResult r = reg(c.args);
        EXPECT_EQ(r.exit_code, c.status) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_EQ(reg({"--version"}).out, std::string("vardelreg ") + VARDEL_VERSION + "\n");
    EXPECT_NE(reg({"--help"}).out.find("export KEY"), std::string::npos);
}

TEST_F(Vardelreg, AStoreThatIsNoDatabaseIsReportedAndKept) {
    std::string db = write_file("root/registry.db", std::string(2048, 'z'));
    test::ChildResult r = reg({"list", "HKLM"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("not a database"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(db), std::string(2048, 'z'));
}

}  // namespace
}  // namespace vardel
