#pragma once
// The run queue and its two timers: pending runs in ascending due time
// (local seconds; 0 for a manual request, which starts at once), the head
// being the next run to start or the run in progress. Timer 2 starts the
// head when it falls due; timer 3 warns 20 seconds before.
//
// While the service is disabled no scheduled run starts; a manual request
// still does, since a person asked for it.
//
// The control thread alone uses it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/backup_set.h"
#include "common/due_times.h"
#include "common/general_settings.h"
#include "common/local_clock.h"
#include "platform/message_loop.h"

namespace vardel {

struct QueueEntry {
    bool manual = false;
    int64_t due = 0;  // local seconds, 0 for a manual request
    std::unique_ptr<BackupSet> set;
};

// What the scheduler reads of the service's state.
struct ServiceState {
    bool enabled = true;
    bool running = false;
    std::string running_set;
};

class Scheduler {
  public:
    Scheduler(platform::MessageLoop& loop, LocalClock& clock, const ServiceState& state);

    int64_t next_due_time(const BackupSet& set);

    // Every present and enabled set of the table, in slot order, then arms.
    void schedule_all(const GeneralSettings& settings);
    // The first set named so (without regard to case) as a manual request;
    // a name that matches no set does nothing.
    void queue_manual(const std::string& name, const GeneralSettings& settings);
    void insert(bool manual, int64_t due, const BackupSet& set);
    void arm_timers(const GeneralSettings& settings);
    void kill_timers();

    // The head is about to run; nullptr when none may start now.
    QueueEntry* startable_head();
    QueueEntry* head() { return queue_.empty() ? nullptr : &queue_.front(); }
    // After a run: drops the head and queues its set again when it was due
    // by the schedule; then arms (or logs that nothing is scheduled).
    void finished(const GeneralSettings& settings);
    // After a reload or a resume: keeps manual entries (and the running
    // head), drops the rest, schedules all again.
    void reschedule(const GeneralSettings& settings);
    // Before enabling: drops every entry due by the schedule (but a running
    // head), so no set is queued twice.
    void drop_scheduled();

    const std::vector<QueueEntry>& queue() const { return queue_; }

  private:
    void log_nothing_scheduled();
    bool has_scheduled_entry(const std::string& name) const;

    platform::MessageLoop& loop_;
    LocalClock& clock_;
    const ServiceState& state_;
    std::vector<QueueEntry> queue_;
};

}  // namespace vardel
