#pragma once
// The backup sets the tray starts for the session, since the service cannot
// see a user log on or off: the enabled sets of type "On Logon" shortly
// after the tray starts, those of type "On Logoff" when the session ends.
// And the first start's introduction, shown once. Any thread.
#include <cstdint>
#include <string>
#include <vector>

#include "common/backup_set_table.h"
#include "common/registry.h"

namespace vardel {

// The enabled sets of `interval_type`, in table order.
std::vector<std::string> session_sets(const BackupSetTable& sets, int32_t interval_type);

// Asks the service to run each set, one connection per set; a set whose
// request cannot be delivered is skipped and the rest still go. The names
// delivered.
std::vector<std::string> send_session_sets(const std::vector<std::string>& names,
                                           const std::string& socket_path = {});

// True once for a user: when "DontShow3" under the product key is 0 or
// missing, it becomes 1 and the introduction is due. A store this user may
// not write (a machine-wide install) cannot keep the mark, so it is kept in
// `user_marker`, a file of the user's own: due when that file is missing,
// which it then no longer is. Due as well when the product key is missing.
bool first_run_help_due(const registry::Store& store, const std::string& user_marker);
// "${XDG_CONFIG_HOME:-~/.config}/vardel/vardelnotify-introduced".
std::string default_first_run_marker();

}  // namespace vardel
