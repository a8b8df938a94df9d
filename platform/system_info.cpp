#include "platform/system_info.h"

#include <sys/utsname.h>
#include <systemd/sd-daemon.h>

namespace vardel::platform {

std::optional<std::string> system_name() {
    utsname u;
    if (::uname(&u) != 0) return std::nullopt;
    return std::string(u.sysname);
}

bool systemd_running() {
    return sd_booted() > 0;
}

}  // namespace vardel::platform
