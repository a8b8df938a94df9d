#pragma once
// Mail from the service (completion reports, cycled logs) through the
// settings' "SMTPHost" and "FromEmail".
#include <string>

#include "common/general_settings.h"

namespace vardel {

// False with the mailer's error text. An empty "FromEmail" sends nothing
// and is no error.
bool send_service_mail(const std::string& to, const std::string& subject, const std::string& body,
                       const GeneralSettings& settings, std::string& error);

}  // namespace vardel
