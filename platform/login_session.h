#pragma once
// The login session a desktop program runs in, as a name for things that
// are one per session (the tray's one-copy lock): logind's session id, else
// $XDG_SESSION_ID, else the display the program shows on. Any thread.
#include <string>

namespace vardel::platform {

std::string login_session();

}  // namespace vardel::platform
