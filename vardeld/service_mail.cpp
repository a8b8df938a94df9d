#include "vardeld/service_mail.h"

#include "common/smtp_mailer.h"

namespace vardel {

bool send_service_mail(const std::string& to, const std::string& subject, const std::string& body,
                       const GeneralSettings& settings, std::string& error) {
    if (settings.FromEmail.empty()) return true;
    // One mailer per mail: the host and sender are taken as they are now.
    SmtpMailer mailer;
    mailer.set_host(settings.SMTPHost);
    mailer.set_from(settings.FromEmail);
    return mailer.send(to, "", subject, body, &error);
}

}  // namespace vardel
