#pragma once
// Processor faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP) as the suite's
// fault codes. Resuming after such a fault is unsafe, so the handler reports
// and the process ends; it never returns into the faulting code.
#include <cstdint>

namespace vardel::platform {

// The fault code for a signal and its si_code; 0 when the pair has no code
// of its own (reported as "Unrecognized exception").
int32_t fault_code_for(int signo, int si_code);

// Called on an alternate stack from the signal handler: only async-signal-safe
// work. The process is ended with status 128 + signo when it returns.
using FaultReporter = void (*)(int32_t code, int signo) noexcept;

// Installs the handler for the five signals on every thread of the process.
void install_fault_handler(FaultReporter reporter);

// Async-signal-safe decimal formatting of a signed 32-bit number into buf
// (at least 12 bytes); returns the length.
int format_int32_signal_safe(int32_t value, char* buf);

}  // namespace vardel::platform
