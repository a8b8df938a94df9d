#include "common/text_helpers.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <set>

#include "common/my_error.h"

namespace vardel {
namespace {

TEST(MyError, KeepsTheFirst255CharactersAndTheCode) {
    MyError e(OPERATION_FAILED, std::string(300, 'm'));
    EXPECT_EQ(std::string(e.message()), std::string(255, 'm'));
    EXPECT_EQ(e.code(), 18);
    MyError f = MyError::format(NOT_FOUND, "Couldn't find %s", "path");
    EXPECT_STREQ(f.message(), "Couldn't find path");
}

TEST(MyError, CategoryNames) {
    EXPECT_STREQ(category_name(0), "No Error");
    EXPECT_STREQ(category_name(17), "BAD DATA");
    EXPECT_STREQ(category_name(18), "OPERATION FAILED");
    EXPECT_STREQ(category_name(19), "RESOURCE FAILURE");
    EXPECT_STREQ(category_name(20), "INVALID PARAMETERS");
    EXPECT_STREQ(category_name(21), "NOT FOUND");
    EXPECT_STREQ(category_name(22), "UNKNOWN ERROR");
    EXPECT_STREQ(category_name(23), "UNKNOWN ERROR");
    EXPECT_STREQ(category_name(-5), "UNKNOWN ERROR");
}

TEST(FormatText, ReturnsLongTextsWholeAndKeeps99Results) {
    std::string big(10000, 'z');
    const char* r = format_text("<%s>", big.c_str());
    EXPECT_EQ(std::string(r), "<" + big + ">");

    std::vector<const char*> results;
    for (int i = 0; i < 99; ++i) results.push_back(format_text("%d", i));
    for (int i = 0; i < 99; ++i) EXPECT_EQ(std::string(results[i]), std::to_string(i));
    // The 100th call reuses the first buffer.
    format_text("again");
    EXPECT_STREQ(results[0], "again");
}

TEST(DateText, ZeroIsTwoDashesElseLocalTimeWithALeadingBlank) {
    EXPECT_EQ(date_time_text(0), "--");
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(date_time_text(1736085789), " Sun Jan 05 2025 14:03:09");
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    EXPECT_EQ(date_time_text(1736085789), " Sun Jan 05 2025 15:03:09");
    unsetenv("TZ");
    tzset();
}

TEST(SystemErrorText, GivesTheSystemsWordsCutTo127) {
    EXPECT_STREQ(system_error_text(ENOENT), "No such file or directory");
    EXPECT_LE(std::string(system_error_text(EIO)).size(), 127u);
}

TEST(PathParts, SplitAtTheLastSlashOnly) {
    EXPECT_EQ(file_name_part("/dir/f.txt"), "f.txt");
    EXPECT_EQ(file_name_part("f.txt"), "f.txt");
    EXPECT_EQ(file_name_part("/dir/a:b.txt"), "a:b.txt");
    EXPECT_EQ(folder_part("f.txt"), "");
    EXPECT_EQ(folder_part("/dir/f.txt"), "/dir/");
    EXPECT_EQ(folder_part("/dir/"), "/dir/");
    EXPECT_EQ(file_name_part("/dir/"), "");
}

TEST(ComputerName, IsTheHostNameCutTo30) {
    std::string name = computer_name();
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 30u);
}

TEST(CaseFolding, IsAsciiOnly) {
    EXPECT_TRUE(iequals("Nightly", "NIGHTLY"));
    EXPECT_FALSE(iequals("\xc3\xa4", "\xc3\x84"));  // ä and Ä are different bytes
    EXPECT_LT(icompare("abc", "ABD"), 0);
    EXPECT_LT(icompare("ab", "abc"), 0);
}

}  // namespace
}  // namespace vardel
