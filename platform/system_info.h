#pragma once
// What kind of system this is, for the installer's start checks. Any thread.
#include <optional>
#include <string>

namespace vardel::platform {

// The kernel's name ("Linux"); none when it cannot be read.
std::optional<std::string> system_name();

// True when systemd is the running service manager (the machine was booted
// with it), so units can be enabled, started and stopped.
bool systemd_running();

}  // namespace vardel::platform
