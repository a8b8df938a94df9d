#include "common/ini_document.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "tests/support/scratch.h"
#include "tests/support/tiny_fs.h"
#include "tests/support/unwritable_folder.h"

namespace vardel {
namespace {

class Ini : public test::ScratchTest {};

TEST_F(Ini, ReadsKeysValuesQuotesAndEscapes) {
    IniDocument doc;
    doc.parse(
        "; a comment\r\n"
        "top=before any header\r\n"
        "   [BACKUPSET]  \r\n"
        "CYCLE = 3\r\n"
        "path=a\\b\n"
        "quoted = \"  two   blanks \\\" kept \"  trailing\r\n"
        "lonely word here\r\n"
        "[Other]\r\n"
        "x==y\r\n"
        "unterminated=last line\r\n"
        "torn=no line feed");
    EXPECT_EQ(doc.get_text("", "top"), "before any header");
    EXPECT_EQ(doc.get_text("backupset", "cycle"), "3");
    EXPECT_EQ(doc.get_number("BACKUPSET", "CYCLE"), 3);
    EXPECT_EQ(doc.get_text("BACKUPSET", "path"), "ab");
    EXPECT_EQ(doc.get_text("BACKUPSET", "quoted"), " two blanks \" kept ");
    EXPECT_EQ(doc.get_text("BACKUPSET", "lonely"), "word here");
    EXPECT_EQ(doc.get_text("Other", "x"), "=y");  // at most one "=" is skipped
    EXPECT_EQ(doc.get_text("Other", "unterminated"), "last line");
    EXPECT_EQ(doc.get_text("Other", "torn"), "");  // a last line without a line feed is ignored
}

TEST_F(Ini, KeysAndSectionsIgnoreCaseAndStayUnique) {
    IniDocument doc;
    doc.set_text("S", "name", "1");
    doc.set_text("s", "NAME", "2");
    ASSERT_EQ(doc.entries().size(), 1u);
    EXPECT_EQ(doc.get_text("S", "Name"), "2");
    EXPECT_EQ(doc.entries()[0].key, "name");  // keeps the first spelling
}

TEST_F(Ini, NumbersReadLikeAtoi) {
    IniDocument doc;
    doc.set_text("S", "a", "  -42xyz");
    doc.set_text("S", "b", "+7");
    doc.set_text("S", "c", "abc");
    doc.set_number("S", "d", 1893456000);
    EXPECT_EQ(doc.get_number("S", "a"), -42);
    EXPECT_EQ(doc.get_number("S", "b"), 7);
    EXPECT_EQ(doc.get_number("S", "c"), 0);
    EXPECT_EQ(doc.get_number("S", "missing"), 0);
    EXPECT_EQ(doc.get_text("S", "d"), "1893456000");
}

TEST_F(Ini, SavesSectionsInTheOrderOfTheirFirstEntryWithCrLf) {
    IniDocument doc;
    doc.set_file_name(path("BACKUP.INI"));
    doc.set_text("S1", "A", "1");
    doc.set_text("S2", "B", "2");
    doc.set_text("s1", "C", "3");
    std::string err;
    ASSERT_TRUE(doc.save(&err)) << err;
    EXPECT_EQ(read_file(path("BACKUP.INI")), "\r\n[S1]\r\nA=1\r\nC=3\r\n\r\n[S2]\r\nB=2\r\n");

    IniDocument back;
    ASSERT_TRUE(back.load(path("BACKUP.INI")));
    EXPECT_EQ(back.serialise(), doc.serialise());
}

// A set name is compared with the one its folder's file records, so every
// value must read back as it was written; ordinary ones are written plainly.
TEST_F(Ini, ValuesTheReaderWouldChangeAreWrittenSoTheyReadBackExactly) {
    const std::vector<std::string> values = {"My  Docs",       "Nightly ",    " leading",
                                             "\"Quoted\" set", "C:\\data\\x", "a \"b\"  c\\",
                                             "plain value",    "x=y",         ""};
    IniDocument doc;
    doc.set_file_name(path("BACKUP.INI"));
    for (size_t i = 0; i < values.size(); ++i)
        doc.set_text("BACKUPSET", "V" + std::to_string(i), values[i]);
    ASSERT_TRUE(doc.save());
    IniDocument back;
    ASSERT_TRUE(back.load(path("BACKUP.INI")));
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(back.get_text("BACKUPSET", "V" + std::to_string(i)), values[i]) << i;
    std::string text = read_file(path("BACKUP.INI"));
    EXPECT_NE(text.find("\r\nV6=plain value\r\nV7=x=y\r\nV8=\r\n"), std::string::npos) << text;
}

TEST_F(Ini, LoadAddsToWhatIsThereAndAMissingFileLoadsNothing) {
    write_file("a.ini", "[S]\nk=file\nnew=1\n");
    IniDocument doc;
    doc.set_text("S", "k", "mine");
    doc.set_text("S", "keep", "x");
    ASSERT_TRUE(doc.load(path("a.ini")));
    EXPECT_EQ(doc.get_text("S", "k"), "file");
    EXPECT_EQ(doc.get_text("S", "keep"), "x");
    EXPECT_EQ(doc.get_text("S", "new"), "1");
    IniDocument none;
    EXPECT_FALSE(none.load(path("nothing.ini")));
    EXPECT_EQ(none.file_name(), path("nothing.ini"));
}

TEST_F(Ini, ALoadTellsAMissingFileFromOneThatCannotBeRead) {
    write_file("a.ini", "[S]\nk=v\n");
    IniDocument doc;
    int err = -1;
    ASSERT_TRUE(doc.load(path("a.ini"), &err));
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(doc.load(path("nothing.ini"), &err));
    EXPECT_EQ(err, ENOENT);
    // A folder opens but cannot be read: an error, not an empty file.
    ASSERT_EQ(::mkdir(path("folder.ini").c_str(), 0755), 0);
    EXPECT_FALSE(doc.load(path("folder.ini"), &err));
    EXPECT_EQ(err, EISDIR);
    EXPECT_FALSE(doc.load(path("a.ini/below.ini"), &err));
    EXPECT_EQ(err, ENOTDIR);
    EXPECT_EQ(doc.get_text("S", "k"), "v");
}

TEST_F(Ini, SaveWithoutAFileNameFails) {
    IniDocument doc;
    doc.set_text("S", "k", "v");
    EXPECT_FALSE(doc.save());
}

TEST_F(Ini, ASaveIntoAReadOnlyFolderFailsAndKeepsTheOldFile) {
    std::string p = write_file("ro/BACKUP.INI", "\r\n[BACKUPSET]\r\nCYCLE=1\r\n");
    test::UnwritableFolder ro(path("ro"));
    if (!ro.ok()) GTEST_SKIP() << ro.why_not();
    IniDocument doc;
    ASSERT_TRUE(doc.load(p));
    doc.set_number("BACKUPSET", "CYCLE", 2);
    EXPECT_FALSE(doc.save());
    EXPECT_EQ(read_file(p), "\r\n[BACKUPSET]\r\nCYCLE=1\r\n");
}

TEST_F(Ini, ASaveOntoAFullDiskFailsAndKeepsTheOldFileByteForByte) {
    test::TinyFs fs(path("disk"), 16 * 1024);
    if (!fs.ok()) GTEST_SKIP() << fs.why_not();
    std::string p = fs.dir() + "/BACKUP.INI";
    IniDocument doc;
    doc.set_file_name(p);
    doc.set_number("BACKUPSET", "CYCLE", 1);
    ASSERT_TRUE(doc.save());
    std::string before = read_file(p);
    // Far more than the disk holds: the write must fail, not the old file.
    for (int i = 0; i < 2000; ++i)
        doc.set_number("BACKUPSET", "BACKUPINSTANCE_" + std::to_string(i), i);
    std::string err;
    EXPECT_FALSE(doc.save(&err));
    EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
    EXPECT_EQ(read_file(p), before);
}

}  // namespace
}  // namespace vardel
