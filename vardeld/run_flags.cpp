#include "vardeld/run_flags.h"

#include "common/log.h"
#include "common/my_error.h"

namespace vardel {

void RunFlags::check_abort(const char* trace) const {
    if (aborting()) {
        log(LOG_DEBUG, "%s", trace);
        throw MyError(RUN_ABORTED, "Abort by user request");
    }
}

void RunFlags::wait_while_paused(const platform::Env& env) const {
    if (!paused() || aborting()) return;
    log(LOG_DEBUG, "Backup paused\n");
    // A resume or an abort wakes the sleep; the step only bounds a missed wake.
    while (paused() && !aborting()) env.sleep_for(std::chrono::seconds(1), &abort_);
    log(LOG_DEBUG, "Backup resumes\n");
}

}  // namespace vardel
