#pragma once
// Fault translation: a processor fault is reported as
// "WinMain error: %d,%s" (the fault code as a signed number, its message) at
// level ERROR to standard error and to every log sink that is safe in a
// signal handler, and the process ends with a non-zero status. Continuing
// after a fault could write corrupt backups, so nothing resumes.
#include <cstdint>

namespace vardel {

// The fault table's message for a code, or "Unrecognized exception".
const char* fault_message(int32_t code);

// Installs the translation for the whole process (call once, at start).
void install_fault_translation();

}  // namespace vardel
