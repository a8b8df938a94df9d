#include "common/fault_translation.h"

#include <unistd.h>

#include <cstring>

#include "common/log.h"
#include "platform/fault_signals.h"

namespace vardel {

const char* fault_message(int32_t code) {
    switch (static_cast<uint32_t>(code)) {
        case 0x80000002:
            return "Misaligned data";
        case 0x80000003:
            return "Encountered breakpoint";
        case 0x80000004:
            return "Encountered single-step instruction";
        case 0xC0000005:
            return "Memory Access violation";
        case 0xC0000025:
            return "Noncontinuable exception";
        case 0xC000008C:
            return "Array bounds exceeded";
        case 0xC000008D:
            return "Encountered denormal operand";
        case 0xC000008E:
            return "Floating-point division by zero";
        case 0xC000008F:
            return "Floating point result can't be represented exactly";
        case 0xC0000090:
            return "Invalid floating-point operation";
        case 0xC0000091:
            return "Floating-point overflow";
        case 0xC0000092:
            return "Floating-point operation caused stack corruption";
        case 0xC0000093:
            return "Floating-point underflow";
        case 0xC0000094:
            return "Integer division by zero";
        case 0xC0000095:
            return "Integer overflow";
        case 0xC0000096:
            return "Encoutered privileged instruction";
        default:
            return "Unrecognized exception";
    }
}

namespace {

void append(char* buf, size_t& len, size_t cap, const char* s) {
    while (*s && len + 1 < cap) buf[len++] = *s++;
    buf[len] = '\0';
}

void report_fault(int32_t code, int) noexcept {
    char line[256];
    size_t len = 0;
    char number[12];
    platform::format_int32_signal_safe(code, number);
    append(line, len, sizeof line, level_name(LOG_ERROR));
    append(line, len, sizeof line, "WinMain error: ");
    append(line, len, sizeof line, number);
    append(line, len, sizeof line, ",");
    append(line, len, sizeof line, fault_message(code));
    append(line, len, sizeof line, "\r\n");
    ssize_t ignored = ::write(STDERR_FILENO, line, len);
    (void)ignored;
    Logger::instance().write_signal_safe(line, len);
}

}  // namespace

void install_fault_translation() {
    platform::install_fault_handler(report_fault);
}

}  // namespace vardel
