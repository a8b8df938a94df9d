#include "common/schedule_rows.h"

#include <gtest/gtest.h>

#include "common/setting_names.h"

namespace vardel {
namespace {

BackupSet set_of(int32_t interval, int32_t start = 0, int32_t every = 0, int32_t until = 0) {
    BackupSet s;
    s.Name = "Nightly";
    s.IntervalType = interval;
    s.StartTime = start;
    s.RepeatEvery = every;
    s.RepeatUntil = until;
    s.BackupDirs = "/home/ann\r\n\r\n/srv/data\r\n";
    s.BackupDestination = "/mnt/backup";
    return s;
}

TEST(ScheduleRows, MonthlyDaysTakeTheirSuffixByTheLastDigit) {
    BackupSet s = set_of(INTERVAL_MONTHLY);
    s.MonthList = std::string(31, '+');
    EXPECT_EQ(when_text(s),
              "1st,2nd,3rd,4th,5th,6th,7th,8th,9th,10th,11st,12nd,13rd,14th,15th,16th,17th,18th,"
              "19th,20th,21st,22nd,23rd,24th,25th,26th,27th,28th,29th,30th,31st");
    s.MonthList = "-" + std::string(29, '-') + "+";
    EXPECT_EQ(when_text(s), "31st");
}

TEST(ScheduleRows, TimedSetShowsStartRepeatAndUntil) {
    BackupSet s = set_of(INTERVAL_WEEKLY, 8 * 3600 + 5, 90 * 60, 20 * 3600 + 30 * 60);
    s.IntervalDays = "+---+-+";
    s.BackupType = BACKUP_DIFFERENTIAL;
    auto row = general_row(s);
    EXPECT_EQ(row, (std::array<std::string, 8>{"Nightly", "Y", "Differential",
                                               "Monday,Friday,Sunday", "08:00:05", "01h 30m",
                                               "20:30:00", "/home/ann,/srv/data"}));
    s.RepeatEvery = 45 * 60;
    EXPECT_EQ(general_cell(s, GeneralColumn::Repeat), "45m");
    // A repeat under a minute: the schedule list shows none, the editor "00m";
    // "Until" follows any repeat that is not 0.
    s.RepeatEvery = 30;
    EXPECT_EQ(general_cell(s, GeneralColumn::Repeat), "");
    EXPECT_EQ(general_cell(s, GeneralColumn::Repeat, RepeatShown::WhenNotZero), "00m");
    EXPECT_EQ(general_cell(s, GeneralColumn::Until), "20:30:00");
    s.RepeatEvery = 0;
    EXPECT_EQ(general_cell(s, GeneralColumn::Until), "");
}

TEST(ScheduleRows, SetsNotDueByTimeShowOnlyTheirTypeName) {
    for (int32_t type : {INTERVAL_ON_DEMAND, INTERVAL_ON_LOGON, INTERVAL_ON_LOGOFF}) {
        BackupSet s = set_of(type, 3600, 3600, 7200);
        s.Enabled = false;
        auto row = general_row(s);
        EXPECT_EQ(row[1], "N");
        EXPECT_EQ(row[3], setting_names::kIntervalTypes.name(type));
        EXPECT_EQ(row[4] + row[5] + row[6], "");
    }
    // A number outside the tables shows nothing rather than failing.
    BackupSet odd = set_of(17);
    odd.BackupType = -1;
    EXPECT_EQ(general_cell(odd, GeneralColumn::When), "");
    EXPECT_EQ(general_cell(odd, GeneralColumn::Type), "");
}

TEST(ScheduleRows, UpcomingRowTakesTheLocalSecondsApartAsWallClock) {
    // 2024-02-29 23:59:58 on the wall clock, whatever the machine's zone.
    auto row = upcoming_row(set_of(INTERVAL_DAILY), 1709251198);
    EXPECT_EQ(row, (std::array<std::string, 5>{"Nightly", "2024/02/29", "23:59:58", "/mnt/backup",
                                               "/home/ann,/srv/data"}));
}

}  // namespace
}  // namespace vardel
