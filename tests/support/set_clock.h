#pragma once
// A clock the test sets: seconds since 1970 (UTC).
#include "platform/clock.h"

namespace vardel::test {

class SetClock : public platform::Clock {
  public:
    explicit SetClock(int64_t start = 0) : t(start) {}
    int64_t now() const override { return t; }
    int64_t t;
};

}  // namespace vardel::test
