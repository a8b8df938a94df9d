#include "platform/clock.h"

#include <ctime>

namespace vardel::platform {

int64_t SystemClock::now() const { return static_cast<int64_t>(::time(nullptr)); }

const Clock& system_clock() {
    static const SystemClock clock;
    return clock;
}

int64_t local_offset_at(int64_t utc) {
    time_t t = static_cast<time_t>(utc);
    struct tm local;
    if (!localtime_r(&t, &local)) return 0;
    // The local fields read back as if they were UTC, minus the instant itself.
    return static_cast<int64_t>(timegm(&local)) - utc;
}

}  // namespace vardel::platform
