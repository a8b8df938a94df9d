#pragma once
// An Env whose wall clock the test sets (seconds since 1970, UTC); every
// other call goes to the real system.
#include "platform/env.h"

namespace vardel::test {

class SetClock : public platform::EnvWrapper {
  public:
    explicit SetClock(int64_t start = 0) : t(start) {}
    int64_t now() const override { return t; }
    int64_t t;
};

}  // namespace vardel::test
