#include "platform/fault_signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace vardel::platform {

namespace {

std::atomic<FaultReporter> g_reporter{nullptr};

void on_fault(int signo, siginfo_t* info, void*) {
    int32_t code = fault_code_for(signo, info ? info->si_code : 0);
    if (FaultReporter r = g_reporter.load()) r(code, signo);
    _exit(128 + signo);
}

}  // namespace

int32_t fault_code_for(int signo, int si_code) {
    auto u = [](uint32_t v) { return static_cast<int32_t>(v); };
    switch (signo) {
        case SIGSEGV:
            return u(0xC0000005);
        case SIGBUS:
            return si_code == BUS_ADRALN ? u(0x80000002) : 0;
        case SIGFPE:
            switch (si_code) {
                case FPE_INTDIV:
                    return u(0xC0000094);
                case FPE_INTOVF:
                    return u(0xC0000095);
                case FPE_FLTDIV:
                    return u(0xC000008E);
                case FPE_FLTOVF:
                    return u(0xC0000091);
                case FPE_FLTUND:
                    return u(0xC0000093);
                case FPE_FLTRES:
                    return u(0xC000008F);
                case FPE_FLTINV:
                    return u(0xC0000090);
                default:
                    return 0;
            }
        case SIGILL:
            return si_code == ILL_PRVOPC ? u(0xC0000096) : 0;
        case SIGTRAP:
            if (si_code == TRAP_BRKPT) return u(0x80000003);
            if (si_code == TRAP_TRACE) return u(0x80000004);
            return 0;
        default:
            return 0;
    }
}

void install_fault_handler(FaultReporter reporter) {
    g_reporter.store(reporter);
    // An alternate stack, so a stack overflow is reported too.
    static char* alt_stack = nullptr;
    if (!alt_stack) {
        const size_t size = 64 * 1024;
        alt_stack = static_cast<char*>(std::malloc(size));
        if (alt_stack) {
            stack_t ss{};
            ss.ss_sp = alt_stack;
            ss.ss_size = size;
            sigaltstack(&ss, nullptr);
        }
    }
    struct sigaction sa {};
    sa.sa_sigaction = on_fault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP}) sigaction(s, &sa, nullptr);
}

int format_int32_signal_safe(int32_t value, char* buf) {
    char tmp[12];
    int n = 0;
    int64_t v = value;
    bool neg = v < 0;
    if (neg) v = -v;
    do {
        tmp[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v > 0);
    int len = 0;
    if (neg) buf[len++] = '-';
    while (n > 0) buf[len++] = tmp[--n];
    buf[len] = '\0';
    return len;
}

}  // namespace vardel::platform
