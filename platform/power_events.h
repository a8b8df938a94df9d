#pragma once
// Power events from systemd-logind on the system bus: PrepareForSleep(true)
// before a suspend, PrepareForSleep(false) after the resume; and a "sleep"
// inhibitor in block mode, held while a backup runs, so that a suspend is
// refused. Where no system bus is reachable nothing of this works and
// connect() says so; the service then goes on without power events.
//
// Used from the control thread only.
#include <functional>
#include <string>

struct sd_bus;
struct sd_bus_slot;

namespace vardel::platform {

class PowerEvents {
  public:
    using SleepHandler = std::function<void(bool going_to_sleep)>;

    PowerEvents() = default;
    ~PowerEvents();
    PowerEvents(const PowerEvents&) = delete;
    PowerEvents& operator=(const PowerEvents&) = delete;

    // Connects and subscribes. False with *why (when given) on failure.
    bool connect(SleepHandler on_sleep, std::string* why = nullptr);
    bool connected() const { return bus_ != nullptr; }
    // A descriptor to poll; process() when it is readable.
    int fd() const;
    void process();

    // Takes the sleep inhibitor (no-op when not connected or already held).
    bool inhibit(const std::string& why_text, std::string* error = nullptr);
    void release_inhibitor();
    bool inhibiting() const { return inhibit_fd_ >= 0; }

    // Called by the bus callback.
    void deliver(bool going_to_sleep) {
        if (on_sleep_) on_sleep_(going_to_sleep);
    }

  private:
    sd_bus* bus_ = nullptr;
    sd_bus_slot* slot_ = nullptr;
    SleepHandler on_sleep_;
    int inhibit_fd_ = -1;
};

}  // namespace vardel::platform
