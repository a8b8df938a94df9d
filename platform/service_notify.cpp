#include "platform/service_notify.h"

#include <systemd/sd-daemon.h>

#include <cstdlib>

namespace vardel::platform {

namespace {
void notify(const std::string& text) {
    if (ServiceNotify::enabled()) sd_notify(0, text.c_str());
}
}  // namespace

bool ServiceNotify::enabled() {
    return std::getenv("NOTIFY_SOCKET") != nullptr;
}

void ServiceNotify::ready(const std::string& status) {
    notify("READY=1\nSTATUS=" + status);
}

void ServiceNotify::stopping(const std::string& status) {
    notify("STOPPING=1\nSTATUS=" + status);
}

void ServiceNotify::status(const std::string& status) {
    notify("STATUS=" + status);
}

void ServiceNotify::errno_status(int error_number) {
    notify("ERRNO=" + std::to_string(error_number));
}

}  // namespace vardel::platform
