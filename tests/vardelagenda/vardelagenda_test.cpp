// vardelagenda: both lists from the store, as text and as a window.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <filesystem>

#include "common/backup_set.h"
#include "common/setting_names.h"
#include "gui/general_schedule_model.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch.h"
#include "tests/support/x_display.h"
#include "vardelagenda/agenda.h"
#include "vardelagenda/ui/upcoming_model.h"

namespace vardel {
namespace {

constexpr const char* kFakeTime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";

class Vardelagenda : public test::ScratchTest {
  protected:
    BackupSet save_set(const char* name, int32_t interval, int32_t start = 0, int32_t every = 0,
                       int32_t until = 0) {
        BackupSet s;
        s.Name = name;
        s.Enabled = true;
        s.IntervalType = interval;
        s.StartTime = start;
        s.RepeatEvery = every;
        s.RepeatUntil = until;
        s.BackupType = BACKUP_FULL;
        std::string letter(1, static_cast<char>(std::tolower(name[0])));
        s.BackupDestination = "/backup/" + letter;
        s.BackupDirs = "/data/" + letter;
        s.save();
        return s;
    }

    test::ChildResult print(const std::vector<std::string>& env = {}) {
        return test::run_program({test::program_path("vardelagenda"), "--print"}, env);
    }
};

// Every interval type, a set that repeats, a Monthly day past the month's
// end, and a disabled set, at 08:30 on a Monday in a zone three hours east
// of UTC (a list that took UTC for the wall clock would show today's 08:00).
TEST_F(Vardelagenda, PrintsBothListsAtAFakedClockInAFakedZone) {
    if (!std::filesystem::exists(kFakeTime)) GTEST_SKIP() << "libfaketime is not installed";
    BackupSet a = save_set("A Daily", INTERVAL_DAILY, 8 * 3600, 3600, 12 * 3600);
    a.BackupDirs = "/data/a\r\n/data/b\r\n";
    a.save();
    BackupSet b = save_set("B Weekly", INTERVAL_WEEKLY, 22 * 3600 + 15 * 60 + 30, 45 * 60, 84600);
    b.IntervalDays = "+-+---+";
    b.BackupType = BACKUP_INCREMENTAL;
    b.BackupDestination = "//server/share/b";
    b.save();
    BackupSet c = save_set("C Monthly", INTERVAL_MONTHLY, 6 * 3600);
    c.MonthList = "+---------+-------------------+";
    c.BackupType = BACKUP_DIFFERENTIAL;
    c.save();
    save_set("D Demand", INTERVAL_ON_DEMAND, 3600, 3600, 7200);
    save_set("E Logon", INTERVAL_ON_LOGON);
    save_set("F Logoff", INTERVAL_ON_LOGOFF);
    BackupSet g = save_set("G Disabled", INTERVAL_DAILY, 9 * 3600);
    g.Enabled = false;
    g.save();

    test::ChildResult r = print(
        {std::string("LD_PRELOAD=") + kFakeTime, "FAKETIME=@2031-04-28 08:30:00", "TZ=VAR-3"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, read_file(VARDEL_SOURCE_DIR "/tests/data/vardelagenda-print.txt"));
}

// A set due every minute all day calls for more runs than the list holds:
// the first 5000 are listed and the failure is told.
TEST_F(Vardelagenda, AFullTableListsWhatFitsAndFails) {
    save_set("Busy", INTERVAL_DAILY, 0, 60, 86399);
    test::ChildResult r = print();
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Schedule Table is full.Stopping now.\nSchedule Table full\n");
    size_t upcoming = r.out.find("Upcoming\n");
    ASSERT_NE(upcoming, std::string::npos);
    size_t rows = 0;
    for (size_t i = upcoming; i < r.out.size(); ++i) rows += r.out[i] == '\n';
    EXPECT_EQ(rows, 5000u + 3);  // the title, the header and the closing empty line
}

TEST_F(Vardelagenda, ModelsHoldUpUnderTheTester) {
    BackupSetTable sets;
    for (int32_t type : {INTERVAL_DAILY, INTERVAL_ON_DEMAND, INTERVAL_WEEKLY}) {
        auto s = std::make_unique<BackupSet>();
        s->Name = setting_names::kIntervalTypes.name(type);
        s->IntervalType = type;
        s->IntervalDays = "+++++++";
        s->Enabled = type != INTERVAL_WEEKLY;
        sets.add(std::move(s));
    }
    Agenda agenda(sets, 1930894200);  // 2031-03-10 07:30 on the wall clock
    EXPECT_EQ(agenda.general(), (std::vector<size_t>{0, 1}));
    EXPECT_EQ(agenda.upcoming().size(), 7u);  // Daily at midnight, from tomorrow
    gui::GeneralScheduleModel general(agenda.sets(), agenda.general(), RepeatShown::FromOneMinute);
    UpcomingModel upcoming(agenda);
    QAbstractItemModelTester t1(&general, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QAbstractItemModelTester t2(&upcoming, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(general.data(general.index(1, 3)).toString(), "On Demand");
    EXPECT_EQ(upcoming.data(upcoming.index(0, 1)).toString(), "2031/03/11");
    general.reset({});
    EXPECT_EQ(general.rowCount(), 0);
}

TEST_F(Vardelagenda, ShowsItsWindowAndClosesLikeAnyWindow) {
    save_set("Nightly", INTERVAL_DAILY, 3600);
    EXPECT_EQ(
        test::XDisplay().show_and_close({test::program_path("vardelagenda")}, "Backup Schedule"),
        "");
}

}  // namespace
}  // namespace vardel
