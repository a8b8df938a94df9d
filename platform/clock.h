#pragma once
// The clock seam: what time it is, as the OS says. Programs use SystemClock;
// tests pass a clock they set through the constructors of what they test.
#include <cstdint>

namespace vardel::platform {

class Clock {
  public:
    virtual ~Clock() = default;
    // Seconds since 1970-01-01 00:00 UTC.
    virtual int64_t now() const = 0;
};

class SystemClock final : public Clock {
  public:
    int64_t now() const override;
};

// The process's system clock, for code that is handed no other.
const Clock& system_clock();

// The local wall-clock offset from UTC in seconds at the instant `utc`,
// daylight saving included, in the zone TZ names.
int64_t local_offset_at(int64_t utc);

// The UTC instant at which the local wall clock shows `local` (local seconds
// taken apart as UTC give the wall-clock fields), daylight saving as the
// zone has it on that date.
int64_t utc_from_local_wall(int64_t local);

}  // namespace vardel::platform
