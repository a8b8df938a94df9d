#pragma once
// The service control manager as clients see it: a systemd unit's state,
// and starting it, through systemctl run as a child process. Each call is
// one systemctl run and waits for it, so a window calls it off its GUI
// thread. Any thread; an object holds no state but its settings.
#include <chrono>
#include <string>
#include <vector>

namespace vardel::platform {

enum class ServiceState { Stopped, Starting, Running, Stopping, Other };

// Which step failed, in the order a client takes them.
enum class ServiceFailure {
    None,
    NoManager,    // systemctl missing, or no systemd to answer it
    NoService,    // systemd knows no such unit
    NoStatus,     // the unit's state could not be read
    StartFailed,  // systemd refused the start, or the service failed to come up
    Refused       // systemd refused another request (stop, enable, disable, reload)
};

struct ServiceQuery {
    ServiceFailure failure = ServiceFailure::None;
    ServiceState state = ServiceState::Other;
    std::string detail;  // systemctl's own words when it failed
};

class ServiceManager {
  public:
    // The systemd unit of the backup service.
    static constexpr const char* kServiceUnit = "vardelclient.service";

    // `systemctl`: a path, or a bare name looked for as find_program() does.
    // `timeout`: how long a start may take, an administrator's password
    // prompt included.
    ServiceManager() : ServiceManager("systemctl") {}
    explicit ServiceManager(std::string systemctl,
                            std::chrono::milliseconds timeout = std::chrono::minutes(2));

    ServiceQuery query(const std::string& unit) const;
    // Starts the unit and waits until systemd reports it up (or failed).
    // `detail` gets systemctl's words on failure.
    ServiceFailure start(const std::string& unit, std::string* detail = nullptr) const;

    // Stops the unit and waits until it has ended.
    ServiceFailure stop(const std::string& unit, std::string* detail = nullptr) const;
    // Enables the unit for every boot, or disables it. With `root`, in the
    // system image below that folder (systemctl --root), which needs no
    // running systemd.
    ServiceFailure enable(const std::string& unit, const std::string& root = {},
                          std::string* detail = nullptr) const;
    ServiceFailure disable(const std::string& unit, const std::string& root = {},
                           std::string* detail = nullptr) const;
    // Makes systemd read the unit files again (after one was added or removed).
    ServiceFailure reload_units(std::string* detail = nullptr) const;
    // Restarts the machine.
    ServiceFailure reboot(std::string* detail = nullptr) const;

    // systemctl's "ActiveState" value as a state.
    static ServiceState state_from_text(const std::string& active_state);

  private:
    ServiceFailure request(std::vector<std::string> args, std::string* detail) const;

    std::string systemctl_;
    std::chrono::milliseconds timeout_;
};

}  // namespace vardel::platform
