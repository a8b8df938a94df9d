#pragma once
// vardelagenda's logic: the schedule settings of every enabled backup set
// and every run they call for from today through the seventh day after,
// computed by the scheduler's own day and time rules. Both the window and
// `vardelagenda --print` show this.
//
// A plain value once built; one thread at a time.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

#include "common/backup_set_table.h"
#include "common/due_times.h"

namespace vardel {

class Agenda {
  public:
    static constexpr size_t kMaxUpcoming = 5000;
    // Shown when the upcoming table fills: first as an error box, then as
    // the MyError it raises.
    static constexpr const char* kFullMessage = "Schedule Table is full.Stopping now.";
    static constexpr const char* kFullError = "Schedule Table full";

    // Both lists of `sets` at `now` (local seconds).
    Agenda(BackupSetTable sets, int64_t now);

    const BackupSetTable& sets() const { return sets_; }
    // The enabled sets, as table indexes in table order.
    const std::vector<size_t>& general() const { return general_; }
    // The coming runs in time order; set_index is a table index.
    const std::vector<UpcomingRun>& upcoming() const { return upcoming_; }
    const BackupSet& set_of(const UpcomingRun& run) const { return sets_[run.set_index]; }
    // More runs were due than the table holds: upcoming() has the first
    // kMaxUpcoming found.
    bool full() const { return full_; }

    // Both lists as tab-separated text: each list's title line, its header
    // line, its rows, and an empty line after it. Tabs and line breaks
    // inside a value become blanks, so every row stays one line.
    void print(std::ostream& out) const;

  private:
    BackupSetTable sets_;
    std::vector<size_t> general_;
    std::vector<UpcomingRun> upcoming_;
    bool full_ = false;
};

}  // namespace vardel
