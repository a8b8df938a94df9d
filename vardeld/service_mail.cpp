#include "vardeld/service_mail.h"

#include "common/smtp_mailer.h"

namespace vardel {

bool send_service_mail(const std::string& to, const std::string& subject, const std::string& body,
                       const GeneralSettings& settings, std::string& error) {
    // The mailer sends nothing without a sender; say so rather than log a
    // mail as sent that never went out.
    if (settings.FromEmail.empty()) {
        error = "No sender address (FromEmail) is set";
        return false;
    }
    // One mailer per mail: the host and sender are taken as they are now.
    SmtpMailer mailer;
    mailer.set_host(settings.SMTPHost);
    mailer.set_from(settings.FromEmail);
    return mailer.send(to, "", subject, body, &error);
}

}  // namespace vardel
