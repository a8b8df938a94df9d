#include "common/smtp_mailer.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/scratch.h"
#include "tests/support/smtp_server.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Short waits: a silent server fails in well under a second.
MailerTimings quick() {
    MailerTimings t;
    t.read_attempts = 10;
    t.read_idle_wait = 30ms;
    t.read_partial_wait = 10ms;
    t.write_attempts = 60;
    t.write_wait = 10ms;
    t.connect_timeout = 2000ms;
    return t;
}

class FixedClock : public platform::Clock {
  public:
    int64_t now() const override { return 1700000000; }
};

class SmtpMailerTest : public test::ScratchTest {
  protected:
    void start_aiosmtpd() {
        server_ = std::make_unique<test::SmtpServer>(path("smtp"));
        ASSERT_TRUE(server_->ok()) << server_->why_not();
        host_ = server_->host();
    }
    std::vector<std::string> messages() { return server_->messages(); }

    std::unique_ptr<test::SmtpServer> server_;
    std::string host_;
    FixedClock clock_;
};

// A server of our own for the replies aiosmtpd will not give: it answers
// each line it reads from the script, and keeps everything it was sent.
class ScriptedServer {
  public:
    // reply(line) gives the answer to a line ("" to stay silent).
    ScriptedServer(std::string greeting, std::function<std::string(const std::string&)> reply)
        : greeting_(std::move(greeting)), reply_(std::move(reply)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::listen(listen_, 4);
        socklen_t len = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedServer() {
        stop_ = true;
        thread_.join();
        ::close(listen_);
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string received() {
        std::lock_guard<std::mutex> l(m_);
        return received_;
    }
    int connections() const { return connections_; }

  private:
    void serve() {
        pollfd p{listen_, POLLIN, 0};
        while (!stop_) {
            if (::poll(&p, 1, 20) <= 0) continue;
            int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0) continue;
            ++connections_;
            talk(fd);
            ::close(fd);
        }
    }
    void talk(int fd) {
        if (!greeting_.empty()) put(fd, greeting_);
        std::string pending;
        char buf[4096];
        while (!stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return;
            {
                std::lock_guard<std::mutex> l(m_);
                received_.append(buf, static_cast<size_t>(n));
            }
            pending.append(buf, static_cast<size_t>(n));
            for (size_t e; (e = pending.find("\r\n")) != std::string::npos;) {
                std::string line = pending.substr(0, e);
                pending.erase(0, e + 2);
                std::string answer = reply_(line);
                if (!answer.empty()) put(fd, answer);
            }
        }
    }
    static void put(int fd, const std::string& s) { ::send(fd, s.data(), s.size(), MSG_NOSIGNAL); }

    std::string greeting_;
    std::function<std::string(const std::string&)> reply_;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::mutex m_;
    std::string received_;
};

// An ordinary server's answers, for use in scripts.
std::string polite(const std::string& line) {
    if (line.rfind("HELO", 0) == 0) return "250 hello\r\n";
    if (line.rfind("MAIL FROM", 0) == 0 || line.rfind("RCPT TO", 0) == 0) return "250 OK\r\n";
    if (line == "DATA") return "354 go on\r\n";
    if (line == ".") return "250 queued\r\n";
    if (line == "QUIT") return "221 bye\r\n";
    return "";
}

TEST_F(SmtpMailerTest, AMessageReachesARealServerWithItsHeadersAndDotsAndACopy) {
    start_aiosmtpd();
    SmtpMailer mailer(quick(), clock_);
    mailer.set_host(host_);
    mailer.set_from("vardel@example.org");
    std::string body = "Backup Completed\r\n.hidden\rsecond line\nthird\r\n.\r\nlast";
    std::string error = "untouched";
    ASSERT_TRUE(mailer.send("ann@example.org", "ops@example.org", "Backup 'Nightly'", body, &error))
        << mailer.error_text();
    EXPECT_EQ(error, "");

    auto got = messages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].substr(0, got[0].find('|', got[0].find('|') + 1)),
              "vardel@example.org|ann@example.org");
    EXPECT_EQ(got[1].substr(0, got[1].find('|', got[1].find('|') + 1)),
              "vardel@example.org|ops@example.org");
    for (const std::string& m : got) {
        std::string data = m.substr(m.find('|', m.find('|') + 1) + 1);
        EXPECT_NE(data.find("Date: " + SmtpMailer::date_text(1700000000) + "\r\n"),
                  std::string::npos)
            << data;
        EXPECT_NE(data.find("From: vardel@example.org\r\nTo: ann@example.org\r\nSubject: Backup "
                            "'Nightly'\r\n\r\n"),
                  std::string::npos)
            << data;
        // Lines end in CR LF whatever they ended in; the doubled dots are undone.
        EXPECT_NE(
            data.find(
                "\r\n\r\nBackup Completed\r\n.hidden\r\nsecond line\r\nthird\r\n.\r\nlast\r\n"),
            std::string::npos)
            << data;
    }
    // "Thu, 14 Nov 2023  22:13:20 UTC": two blanks before the hour.
    EXPECT_TRUE(std::regex_match(
        SmtpMailer::date_text(1700000000),
        std::regex(R"([A-Z][a-z]{2}, \d\d [A-Z][a-z]{2} \d{4}  \d\d:\d\d:\d\d \S*)")))
        << SmtpMailer::date_text(1700000000);
}

TEST_F(SmtpMailerTest, NoSenderSendsNothingAndLineBreaksInHeadersAreRefused) {
    start_aiosmtpd();
    SmtpMailer mailer(quick(), clock_);
    mailer.set_host(host_);
    std::string error = "x";
    EXPECT_FALSE(mailer.send("ann@example.org", "", "s", "b", &error));
    EXPECT_EQ(error, "");

    mailer.set_from("vardel@example.org");
    EXPECT_FALSE(
        mailer.send("ann@example.org", "", "Backup 'x'\r\nBcc: all@example.org", "b", &error));
    EXPECT_EQ(error, "Can't send mail: the subject holds a line break");
    EXPECT_FALSE(mailer.send("ann@example.org\nRCPT TO:<all@example.org>", "", "s", "b"));
    EXPECT_EQ(mailer.error_text(), "Can't send mail: the recipient address holds a line break");
    EXPECT_FALSE(mailer.send("ann@example.org", "a\rb", "s", "b"));
    EXPECT_EQ(mailer.error_text(),
              "Can't send mail: the copy recipient address holds a line break");
    mailer.set_from("v@x\r\nDATA");
    EXPECT_FALSE(mailer.send("ann@example.org", "", "s", "b"));
    EXPECT_EQ(mailer.error_text(), "Can't send mail: the sender address holds a line break");
    EXPECT_TRUE(messages().empty());
}

TEST_F(SmtpMailerTest, TwoThreadsSendingAtOnceBothGetThrough) {
    start_aiosmtpd();
    SmtpMailer mailer(quick(), clock_);
    mailer.set_host(host_);
    mailer.set_from("vardel@example.org");
    std::string body(200000, 'x');
    for (size_t i = 80; i < body.size(); i += 81) body[i] = '\n';
    bool a = false, b = false;
    std::string ea, eb;
    std::thread t1([&] { a = mailer.send("one@example.org", "", "Completed Log", body, &ea); });
    std::thread t2([&] { b = mailer.send("two@example.org", "", "Backup 'B'", "short", &eb); });
    t1.join();
    t2.join();
    EXPECT_TRUE(a) << ea;
    EXPECT_TRUE(b) << eb;
    EXPECT_EQ(messages().size(), 2u);
}

TEST_F(SmtpMailerTest, UnexpectedRepliesFailWithTheLineReceived) {
    {
        ScriptedServer multi("220-mail.example.org ESMTP\r\n220 ready\r\n", polite);
        SmtpMailer mailer(quick(), clock_);
        mailer.set_host(multi.host());
        mailer.set_from("v@example.org");
        EXPECT_FALSE(mailer.send("a@example.org", "", "s", "b"));
        EXPECT_EQ(mailer.error_text(), "Unexpected greeting on Send: 220-mail.example.org ESMTP");
    }
    {
        ScriptedServer refusing("220 ready\r\n", [](const std::string& line) {
            return line.rfind("RCPT TO:<a@", 0) == 0 ? std::string("550 no such user\r\n")
                                                     : polite(line);
        });
        SmtpMailer mailer(quick(), clock_);
        mailer.set_host(refusing.host());
        mailer.set_from("v@example.org");
        EXPECT_FALSE(mailer.send("a@example.org", "copy@example.org", "s", "b"));
        EXPECT_EQ(mailer.error_text(), "Unexpected response to RCPT TO: 550 no such user");
        EXPECT_EQ(refusing.received().find("copy@example.org"), std::string::npos)
            << "a copy that got through must not hide the refusal";
    }
    {
        ScriptedServer rude("220 ready\r\n", [](const std::string& line) {
            return line == "QUIT" ? std::string("500 what\r\n") : polite(line);
        });
        SmtpMailer mailer(quick(), clock_);
        mailer.set_host(rude.host());
        mailer.set_from("v@example.org");
        EXPECT_FALSE(mailer.send("a@example.org", "", "s", ".hidden\n..two\nplain"));
        EXPECT_EQ(mailer.error_text(), "Unexpected response to QUIT: 500 what");
        // On the wire: the dots doubled, a blank line before the end marker.
        std::string wire = rude.received();
        EXPECT_NE(wire.find("\r\n\r\n..hidden\r\n...two\r\nplain\r\n\r\n.\r\nQUIT\r\n"),
                  std::string::npos)
            << wire;
        EXPECT_NE(wire.find("HELO "), std::string::npos);
    }
}

TEST_F(SmtpMailerTest, SilenceOverlongLinesAndRepliesSentTogetherAreHandled) {
    {
        ScriptedServer silent("", [](const std::string&) { return std::string(); });
        SmtpMailer mailer(quick(), clock_);
        mailer.set_host(silent.host());
        mailer.set_from("v@example.org");
        EXPECT_FALSE(mailer.send("a@example.org", "", "s", "b"));
        EXPECT_EQ(mailer.error_text(), "Read timed out");
    }
    {
        // A greeting longer than the receive buffer is cut, and refused even
        // though it begins with "220 ".
        ScriptedServer chatty("220 " + std::string(3000, 'x') + "\r\n", polite);
        SmtpMailer mailer(quick(), clock_);
        mailer.set_host(chatty.host());
        mailer.set_from("v@example.org");
        EXPECT_FALSE(mailer.send("a@example.org", "", "s", "b"));
        EXPECT_EQ(mailer.error_text(),
                  "Unexpected greeting on Send: 220 " + std::string(1019, 'x'));
    }
    {
        // Greeting and the HELO answer in one packet: the second line waits in the buffer.
        ScriptedServer eager("220 ready\r\n250 early hello\r\n", [](const std::string& line) {
            return line.rfind("HELO", 0) == 0 ? std::string() : polite(line);
        });
        SmtpMailer mailer(quick(), clock_);
        mailer.set_host(eager.host());
        mailer.set_from("v@example.org");
        EXPECT_TRUE(mailer.send("a@example.org", "", "s", "b")) << mailer.error_text();
    }
}

TEST_F(SmtpMailerTest, ConnectionFailuresGiveTheNetworkTexts) {
    SmtpMailer mailer(quick(), clock_);
    mailer.set_from("v@example.org");

    // A port where nobody listens.
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    mailer.set_host("127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
    EXPECT_FALSE(mailer.send("a@example.org", "", "s", "b"));
    EXPECT_EQ(mailer.error_text(), "WSAECONNREFUSED: Connection attempt refused by host");

    // An unknown host: the look-up's own words.
    const char* unknown = "no-such-host.invalid";
    addrinfo* list = nullptr;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    int rc = ::getaddrinfo(unknown, "25", &hints, &list);
    if (list) ::freeaddrinfo(list);
    ASSERT_NE(rc, 0);
    mailer.set_host(unknown);
    EXPECT_FALSE(mailer.send("a@example.org", "", "s", "b"));
    if (rc != EAI_SYSTEM) {
        EXPECT_EQ(mailer.error_text(), ::gai_strerror(rc));
    }

    for (const char* bad : {"mail:", "mail:99999", "mail:2x", "[::1", "[::1]x"}) {
        mailer.set_host(bad);
        EXPECT_FALSE(mailer.send("a@example.org", "", "s", "b"));
        EXPECT_EQ(mailer.error_text().rfind("Bad SMTPHost '", 0), 0u)
            << bad << ": " << mailer.error_text();
    }
}

}  // namespace
}  // namespace vardel
