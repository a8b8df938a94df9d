#include "common/wildcard.h"

#include <gtest/gtest.h>

namespace vardel {
namespace {

TEST(Wildcard, StarMatchesAnyRunAndBacktracks) {
    EXPECT_TRUE(wildcard_match("*.txt", "a.txt"));
    EXPECT_TRUE(wildcard_match("*.txt", "ab.txt"));
    EXPECT_TRUE(wildcard_match("*.txt", "a.b.txt"));  // needs backtracking
    EXPECT_FALSE(wildcard_match("*.txt", "a.txtx"));
    EXPECT_TRUE(wildcard_match("*", ""));
    EXPECT_TRUE(wildcard_match("*", "anything"));
    EXPECT_TRUE(wildcard_match("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(wildcard_match("a*b*c", "aXbYbZ"));
}

TEST(Wildcard, TheWholePatternMustBeConsumed) {
    EXPECT_FALSE(wildcard_match("*.doc", "x.do"));
    EXPECT_FALSE(wildcard_match("abc", "ab"));
    EXPECT_FALSE(wildcard_match("ab", "abc"));
    EXPECT_TRUE(wildcard_match("*.*", "a.b"));
    EXPECT_FALSE(wildcard_match("*.*", "nodot"));
    EXPECT_TRUE(wildcard_match("a**", "a"));
}

TEST(Wildcard, QuestionEscapeAndNot) {
    EXPECT_TRUE(wildcard_match("?.txt", "a.txt"));
    EXPECT_FALSE(wildcard_match("?.txt", ".txt"));
    EXPECT_FALSE(wildcard_match("a?", "a"));
    EXPECT_TRUE(wildcard_match("\\*x", "*x"));
    EXPECT_FALSE(wildcard_match("\\*x", "ax"));
    EXPECT_TRUE(wildcard_match("\\?", "?"));
    EXPECT_TRUE(wildcard_match("^a.txt", "b.txt"));
    EXPECT_FALSE(wildcard_match("^a.txt", "a.txt"));
    EXPECT_TRUE(wildcard_match("^a.txt", "A.txt"));  // "not" compares with case
    EXPECT_FALSE(wildcard_match("^a", ""));
}

TEST(Wildcard, LettersIgnoreCase) {
    EXPECT_TRUE(wildcard_match("*.TXT", "notes.txt"));
    EXPECT_TRUE(wildcard_match("Report?.Doc", "REPORT1.doc"));
    EXPECT_TRUE(wildcard_match("[*]", "[BACKUPSET]"));
    EXPECT_FALSE(wildcard_match("[*]", "[BACKUPSET"));
}

}  // namespace
}  // namespace vardel
