#include "vardelnotify/tray_notices.h"

#include "common/text_helpers.h"
#include "pipeclient/service_status.h"

namespace vardel {

namespace {

Notice info(std::string title, std::string text) {
    return {std::move(title), std::move(text), NoticeIcon::Information, 5000, false};
}

Notice status_notice(const std::string& text) {
    ServiceStatus s = ServiceStatus::parse(text);
    if (s.running())
        return {"Backup In Progress", strprintf("Backup '%s' is active", s.running_set().c_str()),
                NoticeIcon::Warning, 5000, false};
    return info("Vardel Status", strprintf("Service %s\n%s", s.enabled() ? "Enabled" : "Disabled",
                                           s.next_run().c_str()));
}

}  // namespace

std::optional<Notice> notice_for(const PipeRecord& r) {
    switch (r.code) {
        case PIPE_STATUS:
            return status_notice(r.text);
        case PIPE_BACKUP_STARTING:
            return info("Vardel Service", strprintf("Backup '%s' starting", r.text.c_str()));
        case PIPE_BACKUP_COMPLETED:
            return info("Vardel Service", strprintf("Backup '%s' completed", r.text.c_str()));
        case PIPE_BACKUP_FAILED:
            return Notice{"Vardel Service Error", r.text, NoticeIcon::Error, 30000, true};
        case PIPE_INFO:
            return info("Vardel Service", r.text);
        case PIPE_ALERT:
            return Notice{"Vardel Service Alert", r.text, NoticeIcon::Warning, 15000, true};
        default:
            return std::nullopt;
    }
}

namespace tray_notice {

Notice connected() {
    return info("Connected", "Vardel Service Started");
}

Notice no_service() {
    return {"No Service", "Can't connect to service", NoticeIcon::Error, 5000, false};
}

Notice service_started() {
    return info("Success", "Vardel Service Started");
}

Notice start_failed(const std::string& message) {
    return {"Start Failed", message, NoticeIcon::Warning, 10000, false};
}

Notice no_notification_area() {
    return info("Vardel Tray",
                "No notification area was found on this desktop. Notices appear here, at the "
                "corner of the screen; the icon and its menu appear once a notification area "
                "starts.");
}

}  // namespace tray_notice

}  // namespace vardel
