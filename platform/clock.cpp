#include "platform/clock.h"

#include <ctime>

namespace vardel::platform {

int64_t SystemClock::now() const {
    return static_cast<int64_t>(::time(nullptr));
}

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

int64_t utc_from_local_wall(int64_t local) {
    time_t t = static_cast<time_t>(local);
    struct tm fields;
    if (!gmtime_r(&t, &fields)) return local;
    fields.tm_isdst = -1;  // let the zone decide for that date
    time_t utc = mktime(&fields);
    return utc == static_cast<time_t>(-1) ? local : static_cast<int64_t>(utc);
}

}  // namespace vardel::platform
