#include "platform/power_events.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>

namespace vardel::platform {

PowerEvents::~PowerEvents() {
    release_inhibitor();
    if (slot_) sd_bus_slot_unref(slot_);
    if (bus_) sd_bus_flush_close_unref(bus_);
}

namespace {
int on_signal(sd_bus_message* m, void* userdata, sd_bus_error*) {
    int sleeping = 0;
    if (sd_bus_message_read(m, "b", &sleeping) >= 0)
        static_cast<PowerEvents*>(userdata)->deliver(sleeping != 0);
    return 0;
}
}  // namespace

bool PowerEvents::connect(SleepHandler on_sleep, std::string* why) {
    on_sleep_ = std::move(on_sleep);
    int r = sd_bus_open_system(&bus_);
    if (r < 0) {
        bus_ = nullptr;
        if (why) *why = std::string("no system bus: ") + std::strerror(-r);
        return false;
    }
    r = sd_bus_match_signal(bus_, &slot_, "org.freedesktop.login1", "/org/freedesktop/login1",
                            "org.freedesktop.login1.Manager", "PrepareForSleep", on_signal, this);
    if (r < 0) {
        if (why) *why = std::string("cannot watch logind: ") + std::strerror(-r);
        sd_bus_flush_close_unref(bus_);
        bus_ = nullptr;
        return false;
    }
    return true;
}

int PowerEvents::fd() const {
    return bus_ ? sd_bus_get_fd(bus_) : -1;
}

void PowerEvents::process() {
    if (!bus_) return;
    while (sd_bus_process(bus_, nullptr) > 0) {
    }
}

bool PowerEvents::inhibit(const std::string& why_text, std::string* error) {
    if (!bus_ || inhibit_fd_ >= 0) return inhibit_fd_ >= 0;
    sd_bus_error err = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus_, "org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", "Inhibit", &err, &reply, "ssss",
                               "sleep", "Vardel", why_text.c_str(), "block");
    bool ok = false;
    if (r >= 0) {
        int fd = -1;
        if (sd_bus_message_read(reply, "h", &fd) >= 0 && fd >= 0) {
            inhibit_fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 3);
            ok = inhibit_fd_ >= 0;
        }
    } else if (error) {
        *error = err.message ? err.message : std::strerror(-r);
    }
    sd_bus_error_free(&err);
    if (reply) sd_bus_message_unref(reply);
    return ok;
}

void PowerEvents::release_inhibitor() {
    if (inhibit_fd_ >= 0) {
        ::close(inhibit_fd_);
        inhibit_fd_ = -1;
    }
}

}  // namespace vardel::platform
