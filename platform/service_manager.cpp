#include "platform/service_manager.h"

#include <cstring>
#include <vector>

#include "platform/process.h"

extern char** environ;

namespace vardel::platform {

namespace {

// Our environment (the session's bus, PATH) with systemctl's messages in
// plain English and no pager.
std::vector<std::string> systemctl_environment() {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "LC_ALL=", 7) == 0 || std::strncmp(*e, "SYSTEMD_PAGER=", 14) == 0)
            continue;
        env.emplace_back(*e);
    }
    env.emplace_back("LC_ALL=C");
    env.emplace_back("SYSTEMD_PAGER=");
    return env;
}

std::string first_line(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

// The value of "Key=value" among systemctl show's lines; none when absent.
bool property(const std::string& output, const std::string& key, std::string& value) {
    size_t pos = 0;
    while (pos < output.size()) {
        size_t end = output.find('\n', pos);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(pos, end - pos);
        pos = end + 1;
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
            line[key.size()] == '=') {
            value = first_line(line.substr(key.size() + 1));
            return true;
        }
    }
    return false;
}

}  // namespace

ServiceManager::ServiceManager(std::string systemctl, std::chrono::milliseconds timeout)
    : systemctl_(std::move(systemctl)), timeout_(timeout) {}

ServiceState ServiceManager::state_from_text(const std::string& s) {
    if (s == "inactive" || s == "failed") return ServiceState::Stopped;
    if (s == "activating") return ServiceState::Starting;
    if (s == "active" || s == "reloading") return ServiceState::Running;
    if (s == "deactivating") return ServiceState::Stopping;
    return ServiceState::Other;
}

ServiceQuery ServiceManager::query(const std::string& unit) const {
    ServiceQuery q;
    std::string program = find_program(systemctl_);
    if (program.empty()) {
        q.failure = ServiceFailure::NoManager;
        q.detail = systemctl_ + " not found";
        return q;
    }
    ProgramResult r =
        run_program({program, "show", "--property=LoadState", "--property=ActiveState", "--", unit},
                    systemctl_environment(), std::chrono::seconds(30));
    // Without systemd (or its bus) systemctl says so and fails; a unit it
    // does not know is no failure to it, but "not-found".
    if (r.exit_status != 0) {
        q.failure = ServiceFailure::NoManager;
        q.detail = first_line(r.output);
        return q;
    }
    std::string load, active;
    if (!property(r.output, "LoadState", load) || load == "not-found") {
        q.failure = ServiceFailure::NoService;
        q.detail = load.empty() ? first_line(r.output) : unit + " " + load;
        return q;
    }
    if (!property(r.output, "ActiveState", active) || active.empty()) {
        q.failure = ServiceFailure::NoStatus;
        q.detail = first_line(r.output);
        return q;
    }
    q.state = state_from_text(active);
    return q;
}

ServiceFailure ServiceManager::start(const std::string& unit, std::string* detail) const {
    std::string program = find_program(systemctl_);
    if (program.empty()) {
        if (detail) *detail = systemctl_ + " not found";
        return ServiceFailure::NoManager;
    }
    ProgramResult r =
        run_program({program, "start", "--", unit}, systemctl_environment(), timeout_);
    if (r.exit_status == 0) return ServiceFailure::None;
    if (detail) *detail = r.exit_status < 0 ? "systemctl did not finish" : first_line(r.output);
    return ServiceFailure::StartFailed;
}

ServiceFailure ServiceManager::request(std::vector<std::string> args, std::string* detail) const {
    std::string program = find_program(systemctl_);
    if (program.empty()) {
        if (detail) *detail = systemctl_ + " not found";
        return ServiceFailure::NoManager;
    }
    args.insert(args.begin(), program);
    ProgramResult r = run_program(args, systemctl_environment(), timeout_);
    if (r.exit_status == 0) return ServiceFailure::None;
    if (detail) *detail = r.exit_status < 0 ? "systemctl did not finish" : first_line(r.output);
    return ServiceFailure::Refused;
}

ServiceFailure ServiceManager::stop(const std::string& unit, std::string* detail) const {
    return request({"stop", "--", unit}, detail);
}

ServiceFailure ServiceManager::enable(const std::string& unit, const std::string& root,
                                      std::string* detail) const {
    if (root.empty()) return request({"enable", "--", unit}, detail);
    return request({"--root=" + root, "enable", "--", unit}, detail);
}

ServiceFailure ServiceManager::disable(const std::string& unit, const std::string& root,
                                       std::string* detail) const {
    if (root.empty()) return request({"disable", "--", unit}, detail);
    return request({"--root=" + root, "disable", "--", unit}, detail);
}

ServiceFailure ServiceManager::reload_units(std::string* detail) const {
    return request({"daemon-reload"}, detail);
}

ServiceFailure ServiceManager::reboot(std::string* detail) const {
    return request({"reboot"}, detail);
}

}  // namespace vardel::platform
