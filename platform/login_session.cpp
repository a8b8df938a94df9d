#include "platform/login_session.h"

#include <systemd/sd-login.h>

#include <cstdlib>

namespace vardel::platform {

std::string login_session() {
    char* session = nullptr;
    if (sd_pid_get_session(0, &session) >= 0 && session) {
        std::string id = session;
        std::free(session);
        return id;
    }
    if (const char* id = std::getenv("XDG_SESSION_ID"); id && *id) return id;
    // Outside logind (a bare X server, a container) each display is a desktop.
    if (const char* d = std::getenv("WAYLAND_DISPLAY"); d && *d) return std::string("wayland") + d;
    if (const char* d = std::getenv("DISPLAY"); d && *d) return std::string("x") + d;
    return "console";
}

}  // namespace vardel::platform
