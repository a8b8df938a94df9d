#include "vardeld/directory_catalogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vardel {
namespace {

using Cat = DirectoryCatalogue;

TEST(DirectoryCatalogue, DirectoriesStaySortedAndGetTheirSlash) {
    Cat c;
    c.find_or_create_dir("/data/b");
    c.find_or_create_dir("/data/a/");
    c.find_or_create_dir("/data/B");
    EXPECT_EQ(c.find_or_create_dir("/data/b/"), c.find_dir("/data/b"));
    std::vector<std::string> order;
    c.for_each_dir([&](Cat::DirRecord& d) { order.emplace_back(d.path); });
    // Exact byte order: "B" and "b" are two directories.
    EXPECT_EQ(order, (std::vector<std::string>{"/data/B/", "/data/a/", "/data/b/"}));
    c.unlink_dir(c.find_dir("/data/a/"));
    EXPECT_EQ(c.find_dir("/data/a"), nullptr);
    EXPECT_EQ(c.dir_count(), 2u);
}

TEST(DirectoryCatalogue, FilesKeepInsertionOrderAndCaseAndCanBeUnlinked) {
    Cat c;
    auto* d = c.find_or_create_dir("/x/");
    c.add_file(d, "b.txt", Cat::Seen);
    c.add_file(d, "a.txt", Cat::Listed);
    c.add_file(d, "A.txt", Cat::Seen);
    EXPECT_NE(c.find_file(d, "a.txt"), c.find_file(d, "A.txt"));
    c.unlink_file(d, c.find_file(d, "b.txt"));
    std::vector<std::string> names;
    for (auto* f = d->first; f; f = f->next) names.emplace_back(f->name);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "A.txt"}));
    EXPECT_EQ(c.find_file(d, "b.txt"), nullptr);
}

TEST(DirectoryCatalogue, ManyFilesInOneDirectoryAreFoundByName) {
    Cat c;
    auto* d = c.find_or_create_dir("/big/");
    for (int i = 0; i < 5000; ++i) c.add_file(d, "f" + std::to_string(i), Cat::Seen);
    ASSERT_NE(c.find_file(d, "f4999"), nullptr);
    EXPECT_EQ(std::string(c.find_file(d, "f17")->name), "f17");
    c.unlink_file(d, c.find_file(d, "f17"));
    EXPECT_EQ(c.find_file(d, "f17"), nullptr);
    EXPECT_EQ(d->file_count, 4999u);
    // Long paths past an arena block are kept whole.
    std::string deep = "/" + std::string(70000, 'd') + "/";
    EXPECT_EQ(c.find_or_create_dir(deep)->path, deep);
}

}  // namespace
}  // namespace vardel
