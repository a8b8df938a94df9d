#pragma once
// What the tray shows for each record the service sends, and its own
// balloons (connected, no service, service started or not): title, text,
// icon, how long it stays and whether it beeps first. Plain values; any
// thread.
#include <optional>
#include <string>

#include "common/pipe_record.h"

namespace vardel {

enum class NoticeIcon { Information, Warning, Error };

struct Notice {
    std::string title;
    std::string text;
    NoticeIcon icon = NoticeIcon::Information;
    int timeout_ms = 5000;
    bool beep = false;
    bool operator==(const Notice&) const = default;
};

// The balloon for a record from the service: the status answer, a backup
// starting, completed or failed, information and alerts. None for an
// aborted backup (the user who stopped it knows) and any other code.
std::optional<Notice> notice_for(const PipeRecord& record);

namespace tray_notice {
// The service came up and the tray is connected to it.
Notice connected();
// A request found no service to take it.
Notice no_service();
// "Start Service" started it.
Notice service_started();
// "Start Service" failed: the error's message.
Notice start_failed(const std::string& message);
// The desktop has no notification area to hold the icon.
Notice no_notification_area();
}  // namespace tray_notice

}  // namespace vardel
