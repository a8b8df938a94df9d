#include "common/list_file.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/scratch.h"

namespace vardel {
namespace {

class ListFile : public test::ScratchTest {};

TEST_F(ListFile, OrdinaryNamesUseThePlainForm) {
    EXPECT_EQ(format_list_line('A', "/data/Sub/"), "A /data/Sub/\r\n");
    EXPECT_EQ(format_list_line('B', "a b%.txt"), "B a b%.txt\r\n");
    ListLine l;
    ASSERT_TRUE(parse_list_line("D gone.txt \r", l));
    EXPECT_EQ(l.kind, 'D');
    EXPECT_EQ(l.text, "gone.txt");
    EXPECT_FALSE(parse_list_line("X something", l));
    EXPECT_FALSE(parse_list_line("A", l));
    EXPECT_FALSE(parse_list_line("", l));
}

TEST_F(ListFile, NamesWithLineBreaksOrEdgeBlanksRoundTrip) {
    for (std::string name :
         {"two\nlines", "cr\rhere", " leading", "trailing ", "tab\tend\t", "100% sure\n"}) {
        std::string line = format_list_line('B', name);
        EXPECT_EQ(line[0], 'b') << name;
        // One line on disk, whatever the name holds.
        EXPECT_EQ(line.find('\n'), line.size() - 1) << name;
        ListLine l;
        ASSERT_TRUE(parse_list_line(line.substr(0, line.size() - 2), l));
        EXPECT_EQ(l.kind, 'B');
        EXPECT_EQ(l.text, name);
    }
}

TEST_F(ListFile, ReadsLongLinesAndBothLineEnds) {
    std::string long_path = "/" + std::string(4000, 'p') + "/";
    std::string text = format_list_line('A', long_path) + "B one\nignored line\r\n" +
                       format_list_line('B', "odd\nname") + "D last";
    std::string p = write_file("L1_1.TXT", text);
    std::vector<ListLine> got;
    ASSERT_TRUE(read_list_file(p, [&](const ListLine& l) { got.push_back(l); }));
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].text, long_path);
    EXPECT_EQ(got[1].text, "one");
    EXPECT_EQ(got[2].text, "odd\nname");
    EXPECT_EQ(got[3].text, "last");
    EXPECT_FALSE(read_list_file(path("missing.TXT"), [](const ListLine&) {}));
}

}  // namespace
}  // namespace vardel
