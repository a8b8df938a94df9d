#include "platform/thread_priority.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace vardel::platform {

namespace {
pid_t thread_id() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// ioprio_set(IOPRIO_WHO_PROCESS, tid, IOPRIO_CLASS_IDLE): no libc wrapper.
bool set_io_idle() {
    constexpr int kWhoProcess = 1;
    constexpr int kClassIdle = 3;
    constexpr int kClassShift = 13;
    return ::syscall(SYS_ioprio_set, kWhoProcess, thread_id(), kClassIdle << kClassShift) == 0;
}
}  // namespace

bool valid_thread_priority(int level) {
    return level >= -3 && level <= 3;
}

bool set_current_thread_priority(int level) {
    if (level == -3) {
        sched_param p{};
        if (::sched_setscheduler(0, SCHED_IDLE, &p) != 0) return false;
        set_io_idle();  // best effort: the CPU class already keeps it out of the way
        return true;
    }
    static const int nice_of[] = {19, 10, 0, -5, -10, -20};  // -2 .. 3
    if (level < -2 || level > 3) {
        errno = EINVAL;
        return false;
    }
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id()), nice_of[level + 2]) == 0;
}

int current_thread_nice() {
    errno = 0;
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread_id()));
}

}  // namespace vardel::platform
