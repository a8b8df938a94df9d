#pragma once
// "Start Service": starts the backup service through the service manager
// when it is stopped, and says what became of it as a balloon. Waits for
// systemctl (and any password prompt it shows), so a window runs it off
// its GUI thread. Any thread.
#include <optional>

#include "platform/service_manager.h"
#include "vardelnotify/tray_notices.h"

namespace vardel {

// Throws MyError OPERATION_FAILED: "Couldn't contact Service Manager",
// "Couldn't open Service Handle", "Couldn't get service status",
// "Couldn't start service". True when it was stopped and is started now;
// false when it was in any other state (nothing is done then).
bool start_backup_service(const platform::ServiceManager& manager);

// The balloon for the outcome: "Success" when it was started, the error's
// text under "Start Failed" when it failed, none otherwise.
std::optional<Notice> start_service_notice(const platform::ServiceManager& manager);

}  // namespace vardel
