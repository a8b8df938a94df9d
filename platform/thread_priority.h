#pragma once
// The backup thread's priority, in the suite's terms: -3 idle, -2 lowest,
// -1 below normal, 0 normal, 1 above normal, 2 highest, 3 time critical.
// Applies to the calling thread only.
namespace vardel::platform {

// True when `level` is one of the seven.
bool valid_thread_priority(int level);
// Sets the calling thread's priority; false with errno on refusal (raising
// needs privileges).
bool set_current_thread_priority(int level);
// The calling thread's nice value, for tests.
int current_thread_nice();

}  // namespace vardel::platform
