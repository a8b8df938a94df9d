#include "vardelcfg/field_rules.h"

#include <gtest/gtest.h>

#include "common/backup_set_table.h"
#include "vardelcfg/destination_check.h"
#include "vardelcfg/page_bindings.h"

namespace vardel {
namespace {

TEST(RepeatText, RoundTripsMinutesAndHoursAndRefusesAnythingElse) {
    EXPECT_EQ(parse_repeat("90"), 5400);
    EXPECT_EQ(format_repeat(5400), "1:30");
    EXPECT_EQ(parse_repeat("0:45"), 2700);
    EXPECT_EQ(format_repeat(2700), "45");
    EXPECT_EQ(parse_repeat("1:5"), 3900);
    EXPECT_EQ(format_repeat(0), "");
    EXPECT_EQ(parse_repeat(":"), 0);
    EXPECT_EQ(parse_repeat("99999999999"), 2147483640);  // never wraps negative

    for (const char* ok : {"", "90", "1:30", ":", "1:", ":5"}) EXPECT_TRUE(repeat_text_valid(ok));
    for (const char* bad : {"abc", "1h", "1:30:00", " 5", "-5", "1.5"})
        EXPECT_FALSE(repeat_text_valid(bad)) << bad;
}

TEST(LogPath, DefaultsBelowTheDataFolderWithOneSeparator) {
    EXPECT_EQ(default_log_path("/var/lib/vardel"), "/var/lib/vardel/logs/");
    EXPECT_EQ(default_log_path("/var/lib/vardel/"), "/var/lib/vardel/logs/");
}

TEST(SetNames, EmptySeparatorsControlsAndCaseDuplicatesAreRefused) {
    BackupSetTable sets;
    for (const char* n : {"Nightly", "Weekly"}) {
        auto s = std::make_unique<BackupSet>();
        s->Name = n;
        sets.add(std::move(s));
    }
    EXPECT_FALSE(set_name_problem(sets, 0, "Nightly"));  // its own name
    EXPECT_FALSE(set_name_problem(sets, 0, "Daily 2 (home)"));
    for (const char* bad : {"", "a/b", "a\\b", "tab\there", "WEEKLY"})
        EXPECT_TRUE(set_name_problem(sets, 0, bad)) << bad;
    EXPECT_EQ(*set_name_problem(sets, 0, "weekly"), "There is already a Backup Set named 'Weekly'");
}

TEST(IncludeList, AsksForEachOverlapByWholeComponents) {
    auto q = include_overlaps("/home", "/");
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].text(),
              "Item '/' is a parent node of '/home'. Are you sure you want to add '/'?");

    q = include_overlaps("/srv\r\n/home/ann\r\n\r\n/data", "/home/ann/mail");
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].parent, "/home/ann");
    EXPECT_EQ(q[0].child, "/home/ann/mail");

    // A folder whose name merely starts with another's is no part of it.
    EXPECT_TRUE(include_overlaps("/data", "/database").empty());
    EXPECT_TRUE(include_overlaps("/Home", "/home/ann").empty());
    EXPECT_EQ(append_line("/a\r\n", "/b"), "/a\r\n/b");
    EXPECT_EQ(append_line("/a", "/b"), "/a\r\n/b");
}

TEST(Destination, SharesWarnAndMountedSharesAreOfferedAsShares) {
    std::vector<platform::MountEntry> mounts = {
        {"/", "/", "ext4", "/dev/sda1"},
        {"/", "/mnt/nas", "cifs", "//nas/backups"},
        {"/", "/mnt/nas/local", "ext4", "/dev/sdb1"},
    };
    DestinationCheck c = check_destination("/mnt/nas/pc1", "", mounts);
    EXPECT_EQ(c.warning, DestinationCheck::Warning::MappedDrive);
    EXPECT_STREQ(c.switch_value, "DontShow2");
    EXPECT_EQ(c.converted, "//nas/backups/pc1");
    EXPECT_EQ(share_form("/mnt/nas", mounts), "//nas/backups");

    c = check_destination("//nas/backups/pc1", "", mounts);
    EXPECT_EQ(c.warning, DestinationCheck::Warning::Share);
    EXPECT_STREQ(c.switch_value, "DontShow1");
    EXPECT_EQ(c.converted, "//nas/backups/pc1");

    // Local folders, a folder mounted over the share, unchanged and tiny texts: nothing.
    for (const char* quiet : {"/mnt/nasty", "/mnt/nas/local/x", "/srv", "/"})
        EXPECT_EQ(check_destination(quiet, "", mounts).warning, DestinationCheck::Warning::None)
            << quiet;
    EXPECT_EQ(check_destination("//nas/x", "//nas/x", mounts).warning,
              DestinationCheck::Warning::None);
}

TEST(Pages, EachBoundControlNamesAStoredValueAndPagesStepWithinTheirGroup) {
    size_t bound = 0;
    for (int page = 0; page < kPageCount; ++page) {
        EXPECT_FALSE(page_bindings(page).empty()) << page_label(page);
        bound += page_bindings(page).size();
    }
    EXPECT_EQ(bound, page_bindings().size());  // grouped by page, in page order
    EXPECT_EQ(page_help_context(PAGE_LOGS), 210);
    EXPECT_EQ(page_help_context(PAGE_ACTIONS), 300);
    EXPECT_EQ(page_help_context(12), 200);
    EXPECT_EQ(previous_page(0), 4);
    EXPECT_EQ(next_page(4), 0);
    EXPECT_EQ(previous_page(5), 9);
    EXPECT_EQ(next_page(9), 5);
}

TEST(Pages, SchedulingControlsFollowTheIntervalAndTheRepeatText) {
    ControlValues v = {{"IntervalType", INTERVAL_WEEKLY}, {"RepeatEvery", std::string()}};
    auto s = control_states(PAGE_SCHEDULING, v);
    EXPECT_TRUE(s["IntervalDays"].visible);
    EXPECT_FALSE(s["MonthList"].visible);
    EXPECT_TRUE(s["StartTime"].enabled);
    EXPECT_FALSE(s["RepeatUntil"].enabled);
    v["RepeatEvery"] = std::string("30");
    EXPECT_TRUE(control_states(PAGE_SCHEDULING, v)["RepeatUntil"].enabled);
    v["IntervalType"] = INTERVAL_ON_LOGON;
    s = control_states(PAGE_SCHEDULING, v);
    EXPECT_FALSE(s["StartTime"].enabled);
    EXPECT_FALSE(s["RepeatUntil"].enabled);
    EXPECT_FALSE(s["IntervalDays"].visible);
}

}  // namespace
}  // namespace vardel
