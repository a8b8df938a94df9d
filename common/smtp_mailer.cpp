#include "common/smtp_mailer.h"

#include <cstring>
#include <ctime>
#include <string_view>

#include "common/text_helpers.h"
#include "platform/tcp_socket.h"

namespace vardel {

namespace {

// "host", "host:port", "[v6]:port" or a bare IPv6 address.
bool split_host(const std::string& spec, std::string& name, uint16_t& port) {
    port = SmtpMailer::kDefaultPort;
    std::string_view s = spec;
    std::string_view port_text;
    if (!s.empty() && s.front() == '[') {
        size_t close = s.find(']');
        if (close == std::string_view::npos) return false;
        name = std::string(s.substr(1, close - 1));
        std::string_view rest = s.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return false;
            port_text = rest.substr(1);
            if (port_text.empty()) return false;
        }
    } else if (size_t colon = s.find(':'); colon != std::string_view::npos &&
                                           s.find(':', colon + 1) == std::string_view::npos) {
        name = std::string(s.substr(0, colon));
        port_text = s.substr(colon + 1);
        if (port_text.empty()) return false;
    } else {
        name = spec;
    }
    if (!port_text.empty()) {
        unsigned long v = 0;
        for (char c : port_text) {
            if (c < '0' || c > '9' || v > 65535) return false;
            v = v * 10 + static_cast<unsigned long>(c - '0');
        }
        if (v == 0 || v > 65535) return false;
        port = static_cast<uint16_t>(v);
    }
    return true;
}

bool has_line_break(const std::string& s) {
    return s.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

// One connection's state: the socket and the receive buffer, which keeps the
// bytes that arrived beyond the last complete reply line.
struct SmtpMailer::Session {
    explicit Session(const MailerTimings& t) : timings(t) {}

    const MailerTimings& timings;
    platform::TcpSocket sock;
    char buf[kReceiveBuffer];
    size_t fill = 0;
    std::string error;

    // A complete line in the buffer, or a buffer full without one.
    bool take_line(std::string& line, bool& too_long) {
        for (size_t i = 0; i + 1 < fill; ++i) {
            if (buf[i] == '\r' && buf[i + 1] == '\n') {
                line.assign(buf, i);
                std::memmove(buf, buf + i + 2, fill - i - 2);
                fill -= i + 2;
                too_long = false;
                return true;
            }
        }
        if (fill >= kReceiveBuffer - 1) {
            // Longer than any reply we can hold: what came is the answer's start.
            line.assign(buf, fill);
            fill = 0;
            too_long = true;
            return true;
        }
        return false;
    }

    bool read_line(std::string& line, bool& too_long) {
        for (int attempt = 0; attempt < timings.read_attempts; ++attempt) {
            if (take_line(line, too_long)) return true;
            size_t got = 0;
            switch (sock.receive(buf + fill, kReceiveBuffer - 1 - fill, got)) {
                case platform::TcpSocket::Io::Done:
                    fill += got;
                    if (take_line(line, too_long)) return true;
                    sock.wait(platform::TcpSocket::Wait::Readable, timings.read_partial_wait);
                    break;
                case platform::TcpSocket::Io::WouldBlock:
                    sock.wait(platform::TcpSocket::Wait::Readable, timings.read_idle_wait);
                    break;
                case platform::TcpSocket::Io::Closed:
                case platform::TcpSocket::Io::Failed:
                    error = sock.error_text();
                    return false;
            }
        }
        error = "Read timed out";
        return false;
    }

    // Reads a reply; it must begin with `code` ("250 "), else `unexpected`
    // (a format with one %s) with the line received.
    bool expect(const char* code, const char* unexpected) {
        std::string line;
        bool too_long = false;
        if (!read_line(line, too_long)) return false;
        if (too_long || line.compare(0, 4, code) != 0) {
            error = strprintf(unexpected, line.c_str());
            return false;
        }
        return true;
    }

    bool send_text(std::string_view text) {
        size_t off = 0;
        for (int attempt = 0; attempt < timings.write_attempts; ++attempt) {
            size_t sent = 0;
            switch (sock.send(text.data() + off, text.size() - off, sent)) {
                case platform::TcpSocket::Io::Done:
                    off += sent;
                    if (off == text.size()) return true;
                    break;
                case platform::TcpSocket::Io::WouldBlock:
                    sock.wait(platform::TcpSocket::Wait::Writable, timings.write_wait);
                    break;
                case platform::TcpSocket::Io::Closed:
                case platform::TcpSocket::Io::Failed:
                    error = sock.error_text();
                    return false;
            }
        }
        error = "Write timed out";
        return false;
    }
};

SmtpMailer::SmtpMailer(MailerTimings timings, const platform::Clock& clock)
    : timings_(timings), clock_(clock) {}

void SmtpMailer::set_host(std::string host) {
    std::lock_guard<std::mutex> lock(mutex_);
    host_ = std::move(host);
}

void SmtpMailer::set_from(std::string from) {
    std::lock_guard<std::mutex> lock(mutex_);
    from_ = std::move(from);
}

std::string SmtpMailer::error_text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

std::string SmtpMailer::date_text(int64_t seconds) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    time_t t = static_cast<time_t>(seconds);
    struct tm tm {};
    if (!localtime_r(&t, &tm)) return std::string();
    char zone[64] = "";
    std::strftime(zone, sizeof zone, "%Z", &tm);
    // Names in English whatever the locale: mail readers parse them.
    return strprintf("%s, %02d %s %04d  %02d:%02d:%02d %s", kDays[tm.tm_wday % 7], tm.tm_mday,
                     kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec,
                     zone);
}

bool SmtpMailer::send(const std::string& to, const std::string& cc, const std::string& subject,
                      const std::string& body, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    Session s(timings_);
    bool ok = run(s, to, cc, subject, body);
    s.sock.close();
    error_ = ok ? std::string() : s.error;
    if (error) *error = error_;
    return ok;
}

bool SmtpMailer::run(Session& s, const std::string& to, const std::string& cc,
                     const std::string& subject, const std::string& body) {
    if (from_.empty()) return false;  // mailing is off: no words for it
    // A line break in a header value would let it add headers or commands.
    const std::pair<const char*, const std::string*> values[] = {{"sender address", &from_},
                                                                 {"recipient address", &to},
                                                                 {"copy recipient address", &cc},
                                                                 {"subject", &subject}};
    for (auto& [what, value] : values) {
        if (has_line_break(*value)) {
            s.error = strprintf("Can't send mail: the %s holds a line break", what);
            return false;
        }
    }
    std::string name;
    uint16_t port = kDefaultPort;
    if (!split_host(host_, name, port)) {
        s.error =
            strprintf("Bad SMTPHost '%s': expected a name or address with an optional \":port\"",
                      host_.c_str());
        return false;
    }
    if (!s.sock.connect(name, port, timings_.connect_timeout)) {
        s.error = s.sock.error_text();
        return false;
    }
    if (!s.expect("220 ", "Unexpected greeting on Send: %s")) return false;
    std::string me = computer_name();
    if (!s.send_text(strprintf("HELO %s\r\n", me.empty() ? "localhost" : me.c_str()))) return false;
    if (!s.expect("250 ", "Unexpected response to HELO: %s")) return false;

    std::string date = date_text(clock_.now());
    auto message = [&](const std::string& rcpt) {
        if (!s.send_text(strprintf("MAIL FROM:<%s>\r\n", from_.c_str())) ||
            !s.expect("250 ", "Unexpected response to MAIL FROM: %s"))
            return false;
        if (!s.send_text(strprintf("RCPT TO:<%s>\r\n", rcpt.c_str())) ||
            !s.expect("250 ", "Unexpected response to RCPT TO: %s"))
            return false;
        if (!s.send_text("DATA\r\n") || !s.expect("354 ", "Unexpected response to DATA: %s"))
            return false;
        std::string head = strprintf("Date: %s\r\nFrom: %s\r\nTo: %s\r\nSubject: %s\r\n\r\n",
                                     date.c_str(), from_.c_str(), to.c_str(), subject.c_str());
        if (!s.send_text(head)) return false;
        bool ok = true;
        std::string line;
        for_each_line(body, [&](std::string_view l) {
            line.clear();
            if (!l.empty() && l.front() == '.') line += '.';  // a lone "." would end the message
            line.append(l);
            line += "\r\n";
            ok = s.send_text(line);
            return ok;
        });
        if (!ok || !s.send_text("\r\n.\r\n")) return false;
        return s.expect("250 ", "Unexpected response end of data: %s");
    };
    // A copy goes out only when the first did: a refused recipient must not
    // be hidden by a copy that got through.
    if (!message(to)) return false;
    if (!cc.empty() && !message(cc)) return false;

    if (!s.send_text("QUIT\r\n")) return false;
    return s.expect("221 ", "Unexpected response to QUIT: %s");
}

}  // namespace vardel
