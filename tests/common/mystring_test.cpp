#include "common/mystring.h"

#include <gtest/gtest.h>

#include "common/my_error.h"
#include "tests/support/scratch.h"

namespace vardel {
namespace {

int32_t code_of(const std::function<void()>& f, std::string* message = nullptr) {
    try {
        f();
    } catch (const MyError& e) {
        if (message) *message = e.message();
        return e.code();
    }
    return 0;
}

TEST(MyString, CapacityStartsAtTheTextOr16AndNeverShrinks) {
    EXPECT_EQ(MyString().capacity(), 16u);
    MyString s("a fairly long text of 33 letters.");
    EXPECT_EQ(s.capacity(), 33u);
    s.set_capacity(100);
    s.assign("x");
    s.set_capacity(10);
    EXPECT_GE(s.capacity(), 100u);
    EXPECT_STREQ(s.text(), "x");
}

TEST(MyString, ComparesWithoutCaseUnlessMarked) {
    MyString s("Backup");
    EXPECT_TRUE(s.equals("BACKUP"));
    EXPECT_LT(s.compare("backupz"), 0);
    s.set_case_mode(CaseMode::Sensitive);
    EXPECT_FALSE(s.equals("BACKUP"));
    EXPECT_TRUE(s.equals("Backup"));
}

TEST(MyString, LinesEndAtCrLfCrOrLf) {
    MyString s("one\r\ntwo\nthree\rfour\n");
    EXPECT_EQ(s.count_lines(), 4u);
    EXPECT_STREQ(s.line(2), "two");
    EXPECT_STREQ(s.line(3), "three");
    EXPECT_STREQ(s.line(4), "four");
    EXPECT_EQ(s.line(5), nullptr);
    EXPECT_EQ(s.line(0), nullptr);
    MyString blank_lines("a\r\n\r\nb");
    EXPECT_STREQ(blank_lines.line(2), "");
    EXPECT_STREQ(blank_lines.line(3), "b");
}

TEST(MyString, FieldsSplitAtTheGivenCharacter) {
    MyString s("a:b:c");
    EXPECT_STREQ(s.field(1, ':'), "a");
    EXPECT_STREQ(s.field(2, ':'), "b");
    EXPECT_STREQ(s.field(3, ':'), "c");
    EXPECT_EQ(s.field(4, ':'), nullptr);
    MyString empties("::");
    EXPECT_STREQ(empties.field(3, ':'), "");
}

TEST(MyString, PositionsOutOfRangeAreInvalidParameters) {
    MyString s("abc");
    EXPECT_EQ(s.at(2), 'c');
    EXPECT_STREQ(s.first(0), "");
    EXPECT_STREQ(s.first(2), "ab");
    std::string msg;
    EXPECT_EQ(code_of([&] { s.at(3); }, &msg), INVALID_PARAMETERS);
    EXPECT_EQ(msg, "Bad position");
    EXPECT_EQ(code_of([&] { s.first(3); }), INVALID_PARAMETERS);
    EXPECT_EQ(code_of([&] { s.insert(3, "x"); }, &msg), INVALID_PARAMETERS);
    EXPECT_EQ(msg, "Bad parameters in 'insert' function");
    EXPECT_EQ(code_of([&] { MyString().at(0); }), INVALID_PARAMETERS);
    s.insert(1, "XY");
    EXPECT_STREQ(s.text(), "aXYbc");
    EXPECT_EQ(s.last(2), "bc");
    EXPECT_EQ(s.last(99), "aXYbc");
}

TEST(MyString, ReplaceWorksLeftToRightWithoutCase) {
    MyString s("a\tb\t");
    s.replace("\t", "\r\n");
    EXPECT_STREQ(s.text(), "a\r\nb\r\n");
    MyString t("Foo foo FOO");
    t.replace("foo", "foofoo");  // replaced text is not searched again
    EXPECT_STREQ(t.text(), "foofoo foofoo foofoo");
    t.replace('o', '0');
    EXPECT_STREQ(t.text(), "f00f00 f00f00 f00f00");
}

TEST(MyString, TrimCutsAndFoldsBlanks) {
    MyString s("  a   b \t c  ");
    MyString start = s, end = s;
    start.trim(TrimMode::Start);
    end.trim(TrimMode::End);
    s.trim(TrimMode::Both);
    EXPECT_STREQ(start.text(), "a   b \t c  ");
    EXPECT_STREQ(end.text(), "  a   b \t c");
    EXPECT_STREQ(s.text(), "a b c");
}

class MyStringFile : public test::ScratchTest {};

TEST_F(MyStringFile, ReadsATextFileAsCrLfLines) {
    std::string p = write_file("log.txt", "first  \r\nsecond\n" + std::string(1500, 'x') + "\n");
    MyString s;
    ASSERT_TRUE(s.read_text_file(p));
    EXPECT_STREQ(s.line(1), "first");
    EXPECT_STREQ(s.line(2), "second");
    EXPECT_EQ(std::string(s.line(3)).size(), 1023u);  // lines are read 1023 characters at most
    EXPECT_EQ(std::string(s.line(4)).size(), 477u);
    EXPECT_FALSE(s.read_text_file(path("missing.txt")));
}

TEST(MyString, AddLineSeparatesWithCrLf) {
    MyString s;
    s.add_line("a");
    s.add_line("b");
    EXPECT_STREQ(s.text(), "a\r\nb");
}

}  // namespace
}  // namespace vardel
