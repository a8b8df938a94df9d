#pragma once
// Local seconds: seconds since 1970 on the local wall clock. Taking local
// seconds apart as UTC (gmtime) gives the local date and time. The offset is
// taken once, on first use, and kept until refresh_offset() is called.
//
// Not thread-safe: each thread that needs one owns its LocalClock.
#include <cstdint>
#include <optional>

#include "platform/clock.h"

namespace vardel {

class LocalClock {
  public:
    explicit LocalClock(const platform::Clock& clock = platform::system_clock()) : clock_(clock) {}

    int64_t utc_now() const { return clock_.now(); }
    const platform::Clock& clock() const { return clock_; }
    int64_t local_now();
    int64_t offset();
    // Takes the offset afresh (after a change between summer and winter time).
    void refresh_offset() { offset_.reset(); }

    int64_t to_local(int64_t utc) { return utc + offset(); }
    int64_t to_utc(int64_t local) { return local - offset(); }

  private:
    const platform::Clock& clock_;
    std::optional<int64_t> offset_;
};

}  // namespace vardel
