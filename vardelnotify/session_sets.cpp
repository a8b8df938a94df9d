#include "vardelnotify/session_sets.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/log.h"
#include "common/my_error.h"
#include "common/pipe_record.h"
#include "common/suite_names.h"
#include "pipeclient/control_client.h"
#include "platform/paths.h"

namespace vardel {

namespace {
constexpr const char* kDontShow3 = "DontShow3";
}

std::vector<std::string> session_sets(const BackupSetTable& sets, int32_t interval_type) {
    std::vector<std::string> names;
    for (const BackupSet& s : sets)
        if (s.Enabled && s.IntervalType == interval_type) names.push_back(s.Name);
    return names;
}

std::vector<std::string> send_session_sets(const std::vector<std::string>& names,
                                           const std::string& socket_path) {
    std::vector<std::string> sent;
    for (const std::string& name : names) {
        try {
            ControlClient::send_once(PIPE_RUN_SET, name, socket_path);
            sent.push_back(name);
        } catch (const MyError& e) {
            log(LOG_DEBUG, "Run request for %s not delivered: %s\n", name.c_str(), e.message());
        }
    }
    return sent;
}

bool first_run_help_due(const registry::Store& store, const std::string& user_marker) {
    std::optional<registry::Key> key;
    int32_t shown = 0;
    try {
        key = registry::open_key(store, registry::Root::LocalMachine, kProductKey);
        if (!key) return true;
        shown = registry::read_number(*key, kDontShow3, 0);
    } catch (const MyError&) {
        return true;
    }
    if (shown != 0) return false;
    if (!store->read_only()) {
        try {
            registry::write_number(*key, kDontShow3, 1);
            return true;
        } catch (const MyError&) {
            // Refused after all: the user's own mark below.
        }
    }
    std::error_code ec;
    if (std::filesystem::exists(user_marker, ec)) return false;
    std::filesystem::create_directories(std::filesystem::path(user_marker).parent_path(), ec);
    std::ofstream(user_marker) << "1\n";
    return true;
}

std::string default_first_run_marker() {
    platform::PathInputs in = platform::current_path_inputs();
    std::string config = in.xdg_config_home.empty() ? in.home + "/.config" : in.xdg_config_home;
    return config + "/vardel/vardelnotify-introduced";
}

}  // namespace vardel
