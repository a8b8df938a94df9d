#include "common/local_clock.h"

namespace vardel {

int64_t LocalClock::offset() {
    if (!offset_) offset_ = platform::local_offset_at(clock_.now());
    return *offset_;
}

int64_t LocalClock::local_now() {
    return clock_.now() + offset();
}

}  // namespace vardel
