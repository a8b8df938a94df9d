#pragma once
// Status reports to systemd (Type=notify): READY=1, STOPPING=1, STATUS=...
// When NOTIFY_SOCKET is not set (interactive runs, tests) every report does
// nothing. Thread-safe.
#include <string>

namespace vardel::platform {

class ServiceNotify {
  public:
    // True when systemd asked for notifications.
    static bool enabled();
    static void ready(const std::string& status);
    static void stopping(const std::string& status);
    static void status(const std::string& status);
    // Exit status to report when stopping after a failure.
    static void errno_status(int error_number);
};

}  // namespace vardel::platform
