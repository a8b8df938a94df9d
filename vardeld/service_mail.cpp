#include "vardeld/service_mail.h"

namespace vardel {

bool send_service_mail(const std::string&, const std::string&, const std::string&,
                       const GeneralSettings& settings, std::string& error) {
    if (settings.FromEmail.empty()) return true;
    error = "no mailer in this build";
    return false;
}

}  // namespace vardel
