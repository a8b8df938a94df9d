#pragma once
// The service's own window messages and timers.
#include <cstdint>

#include "platform/message_loop.h"

namespace vardel {

inline constexpr uint32_t WUM_RELOAD = platform::WM_USER + 6;
inline constexpr uint32_t WUM_CONTROL = platform::WM_USER + 8;
inline constexpr uint32_t WUM_BACKUP_DONE = platform::WM_USER + 9;
inline constexpr uint32_t WUM_LOG_CYCLED = platform::WM_USER + 10;
// Internal: lparam is a std::string* that receives the status text.
inline constexpr uint32_t WUM_STATUS_TEXT = platform::WM_USER + 100;

inline constexpr uintptr_t kStartTimer = 2;  // starts the head of the run queue
inline constexpr uintptr_t kWarnTimer = 3;   // the 20-second warning

// Results of a run (WUM_BACKUP_DONE's wparam).
inline constexpr int kResultFailed = 3;
inline constexpr int kResultAborted = 4;
inline constexpr int kResultCompleted = 5;

// WUM_CONTROL's lparam points at this for the duration of the send.
struct ControlRequest {
    uint32_t code;
    const char* text;
    int slot;  // the asking client, -1 when none
};

}  // namespace vardel
