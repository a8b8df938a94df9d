#pragma once
// The SMTP sender: one plain-text message through the server named by
// "SMTPHost", without authentication, in the dialogue HELO, MAIL FROM,
// RCPT TO, DATA, QUIT with exact reply checks. Every network step is
// bounded: a silent server fails the send with "Read timed out" after the
// read attempts, never holds the caller for ever.
//
// One mailer per process. Sends are serialised by the mailer's own lock, so
// the backup thread and the log-mailing thread may both call it; the one
// that comes second waits. Hand send() an error string to get the words of
// that very send; error_text() gives those of the last send of any thread.
#include <chrono>
#include <mutex>
#include <string>

#include "platform/clock.h"

namespace vardel {

namespace platform {
class TcpSocket;
}

// How long the mailer waits. The service uses these defaults; tests shorten them.
struct MailerTimings {
    int read_attempts = 60;
    std::chrono::milliseconds read_idle_wait{1000};   // nothing arrived yet
    std::chrono::milliseconds read_partial_wait{50};  // part of a line arrived
    int write_attempts = 60;
    std::chrono::milliseconds write_wait{10};
    std::chrono::milliseconds connect_timeout{60000};  // per address of the host
};

class SmtpMailer {
  public:
    static constexpr uint16_t kDefaultPort = 25;
    static constexpr size_t kReceiveBuffer = 1024;

    explicit SmtpMailer(MailerTimings timings = {},
                        const platform::Clock& clock = platform::system_clock());

    // A dotted address or a name, with an optional ":port" ("mail:2525",
    // "[::1]:2525"); port 25 otherwise.
    void set_host(std::string host);
    void set_from(std::string from);

    // Sends the message to `to` and, when cc is not empty, the same message
    // again to cc (the "To:" header names `to` in both). True when every copy
    // went out and the server said goodbye. With an empty sender nothing is
    // sent: false with an empty error text. Addresses and subject holding a
    // CR or LF are refused before anything is sent.
    bool send(const std::string& to, const std::string& cc, const std::string& subject,
              const std::string& body, std::string* error = nullptr);

    std::string error_text() const;

    // "Date:" header text of a moment: "%a, %d %b %Y  %H:%M:%S %Z" in local time.
    static std::string date_text(int64_t seconds_since_1970);

  private:
    struct Session;
    bool run(Session& s, const std::string& to, const std::string& cc, const std::string& subject,
             const std::string& body);

    MailerTimings timings_;
    const platform::Clock& clock_;
    mutable std::mutex mutex_;
    std::string host_;
    std::string from_;
    std::string error_;
};

}  // namespace vardel
