#include "vardelnotify/hover_tracker.h"

namespace vardel {

namespace {
constexpr int kRestingTicks = 5;  // counted before the one that shows the status
}

bool HoverTracker::moved(Point at) {
    last_ = at;
    if (running_) return false;
    running_ = true;
    ticks_ = 0;
    return true;
}

HoverTracker::Step HoverTracker::tick(Point cursor) {
    if (!running_ || menu_open_) return Step::None;
    if (!(cursor == last_)) {
        running_ = false;
        return Step::Stop;
    }
    // Once only: the balloon stays while the cursor rests.
    return ticks_++ == kRestingTicks ? Step::ShowStatus : Step::None;
}

}  // namespace vardel
