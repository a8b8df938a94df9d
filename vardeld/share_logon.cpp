#include "vardeld/share_logon.h"

#include "common/log.h"

namespace vardel {

bool is_unc_path(const std::string& p) {
    return p.size() >= 2 && ((p[0] == '/' && p[1] == '/') || (p[0] == '\\' && p[1] == '\\'));
}

ShareLogonResult ShareLogon::log_on_if_necessary(const std::string& destination,
                                                 const GeneralSettings&) {
    log(LOG_DEBUG, "LogOnIfNecessary %s\n", destination.c_str());
    ShareLogonResult r;
    r.folder = destination;
    if (!is_unc_path(destination)) {
        log(LOG_DEBUG, "Not a UNC\n");
        return r;
    }
    r.reachable = false;
    r.error_number = 2;
    r.error_text = "Network shares are not supported by this build";
    return r;
}

}  // namespace vardel
