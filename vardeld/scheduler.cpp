#include "vardeld/scheduler.h"

#include "common/log.h"
#include "common/text_helpers.h"
#include "platform/clock.h"
#include "vardeld/service_messages.h"

namespace vardel {

Scheduler::Scheduler(platform::MessageLoop& loop, LocalClock& clock, const ServiceState& state)
    : loop_(loop), clock_(clock), state_(state) {}

int64_t Scheduler::next_due_time(const BackupSet& set) {
    return vardel::next_due_time(schedule_rule_of(set), clock_.local_now());
}

void Scheduler::insert(bool manual, int64_t due, const BackupSet& set) {
    if (queue_.size() == queue_.capacity()) queue_.reserve(queue_.size() + 256);
    size_t mark = state_.running ? 1 : 0;
    size_t at = queue_.size();
    while (at > mark && queue_[at - 1].due > due) --at;
    QueueEntry e;
    e.manual = manual;
    e.due = due;
    e.set = std::make_unique<BackupSet>(set);
    queue_.insert(queue_.begin() + static_cast<std::ptrdiff_t>(at), std::move(e));
    log(LOG_INFO, "Schedule set '%s' for %s\n", set.Name.c_str(),
        due == 0 ? "Immediate execution" : local_seconds_text(due).c_str());
}

void Scheduler::schedule_all(const GeneralSettings& settings) {
    // Daylight saving: take the local offset afresh, so runs keep their
    // wall-clock times across a change of summer and winter time.
    clock_.refresh_offset();
    const BackupSetTable& table = settings.backup_sets();
    for (size_t i = 0; i < table.slot_count(); ++i) {
        const BackupSet* s = table.slot(i);
        if (!s || !s->Enabled) continue;
        // A scheduled run of this set is still queued (the running head, kept
        // across a reload): its end queues the next one, so queuing it here
        // too would run the set twice at every due time from then on.
        if (has_scheduled_entry(s->Name)) continue;
        int64_t due = next_due_time(*s);
        if (due != 0) insert(false, due, *s);
    }
    arm_timers(settings);
}

bool Scheduler::has_scheduled_entry(const std::string& name) const {
    for (const QueueEntry& e : queue_)
        if (!e.manual && iequals(e.set->Name, name)) return true;
    return false;
}

void Scheduler::queue_manual(const std::string& name, const GeneralSettings& settings) {
    const BackupSet* s = settings.backup_sets().find(name);
    if (!s) return;
    insert(true, 0, *s);
    arm_timers(settings);
}

void Scheduler::log_nothing_scheduled() {
    log(LOG_INFO, "No backups scheduled.  ");
    if (state_.running)
        log(LOG_INFO, "Backup '%s' in progress\n", state_.running_set.c_str());
    else
        log(LOG_INFO, "Idle\n");
}

void Scheduler::kill_timers() {
    loop_.kill_timer(kStartTimer);
    loop_.kill_timer(kWarnTimer);
}

void Scheduler::arm_timers(const GeneralSettings& settings) {
    if (queue_.empty()) {
        log_nothing_scheduled();
        return;
    }
    if (state_.running) return;
    const QueueEntry& head = queue_.front();
    kill_timers();
    if (!state_.enabled && !head.manual) return;  // disabled: scheduled runs wait
    // In real seconds to the moment the wall clock shows the due time, so a
    // change of summer and winter time in between moves nothing.
    int64_t seconds =
        head.due == 0 ? 0 : platform::utc_from_local_wall(head.due) - clock_.utc_now();
    if (seconds < 0) seconds = 0;
    loop_.set_timer(kStartTimer, std::chrono::milliseconds(seconds == 0 ? 50 : seconds * 1000));
    if (seconds != 0) {
        log(LOG_INFO, "Set Timer for %d seconds from now, for set '%s', To go off at %s\n",
            static_cast<int>(seconds), head.set->Name.c_str(),
            ctime_text(clock_.utc_now() + seconds).c_str());
    }
    if (settings.WarnUserWhenBackupStarts && seconds >= 21)
        loop_.set_timer(kWarnTimer, std::chrono::milliseconds((seconds - 20) * 1000));
}

QueueEntry* Scheduler::startable_head() {
    if (queue_.empty()) return nullptr;
    QueueEntry& h = queue_.front();
    if (!state_.enabled && !h.manual) return nullptr;
    return &h;
}

void Scheduler::finished(const GeneralSettings& settings) {
    if (!queue_.empty()) {
        QueueEntry done = std::move(queue_.front());
        queue_.erase(queue_.begin());
        if (!done.manual) {
            clock_.refresh_offset();
            // The search stops at the first empty slot, as the table keeps
            // its sets together.
            if (const BackupSet* s = settings.backup_sets().find(done.set->Name)) {
                int64_t due = next_due_time(*s);
                if (due != 0) insert(false, due, *s);
            }
        }
    }
    if (!queue_.empty())
        arm_timers(settings);
    else
        log_nothing_scheduled();
}

void Scheduler::reschedule(const GeneralSettings& settings) {
    std::vector<QueueEntry> kept;
    for (size_t i = 0; i < queue_.size(); ++i) {
        if (queue_[i].manual || (i == 0 && state_.running)) kept.push_back(std::move(queue_[i]));
    }
    queue_ = std::move(kept);
    schedule_all(settings);
}

void Scheduler::drop_scheduled() {
    std::vector<QueueEntry> kept;
    for (size_t i = 0; i < queue_.size(); ++i) {
        if (queue_[i].manual || (i == 0 && state_.running)) kept.push_back(std::move(queue_[i]));
    }
    queue_ = std::move(kept);
}

}  // namespace vardel
