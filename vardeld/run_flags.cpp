#include "vardeld/run_flags.h"

#include <chrono>
#include <thread>

#include "common/log.h"
#include "common/my_error.h"

namespace vardel {

void check_abort(const RunFlags& flags) {
    if (flags.abort.load()) {
        log(LOG_DEBUG, "throw abort\n");
        throw MyError(RUN_ABORTED, "Abort flag set");
    }
}

void pause_wait(const RunFlags& flags) {
    if (!flags.pause.load() || flags.abort.load()) return;
    log(LOG_DEBUG, "Backup paused\n");
    // Short steps, so a resume or an abort takes effect at once.
    while (flags.pause.load() && !flags.abort.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    log(LOG_DEBUG, "Backup resumes\n");
}

}  // namespace vardel
