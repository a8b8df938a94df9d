#include "vardelnotify/service_start.h"

#include "common/log.h"
#include "common/my_error.h"

namespace vardel {

namespace {

[[noreturn]] void fail(const char* message, const std::string& detail) {
    log(LOG_DEBUG, "%s: %s\n", message, detail.c_str());
    throw MyError(OPERATION_FAILED, message);
}

const char* message_of(platform::ServiceFailure f) {
    switch (f) {
        case platform::ServiceFailure::NoManager:
            return "Couldn't contact Service Manager";
        case platform::ServiceFailure::NoService:
            return "Couldn't open Service Handle";
        case platform::ServiceFailure::NoStatus:
            return "Couldn't get service status";
        case platform::ServiceFailure::StartFailed:
        case platform::ServiceFailure::Refused:
        case platform::ServiceFailure::None:
            break;
    }
    return "Couldn't start service";
}

}  // namespace

bool start_backup_service(const platform::ServiceManager& manager) {
    const std::string unit = platform::ServiceManager::kServiceUnit;
    platform::ServiceQuery q = manager.query(unit);
    if (q.failure != platform::ServiceFailure::None) fail(message_of(q.failure), q.detail);
    if (q.state != platform::ServiceState::Stopped) return false;
    std::string detail;
    platform::ServiceFailure f = manager.start(unit, &detail);
    if (f != platform::ServiceFailure::None) fail(message_of(f), detail);
    return true;
}

std::optional<Notice> start_service_notice(const platform::ServiceManager& manager) {
    try {
        if (start_backup_service(manager)) return tray_notice::service_started();
    } catch (const MyError& e) {
        return tray_notice::start_failed(e.message());
    }
    return std::nullopt;
}

}  // namespace vardel
