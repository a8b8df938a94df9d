#pragma once
// A real SMTP server for tests: Debian's aiosmtpd on a free loopback port,
// keeping every message it accepts. Stopped when the object goes.
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace vardel::test {

class SmtpServer {
  public:
    // `dir`: a folder of the test's own for the server's files.
    explicit SmtpServer(const std::string& dir);
    bool ok() const { return !host_.empty(); }
    const std::string& why_not() const { return why_not_; }
    // "127.0.0.1:<port>", for SMTPHost.
    const std::string& host() const { return host_; }
    // The messages received so far, each "from|to,to|data".
    std::vector<std::string> messages() const;

  private:
    std::string dir_;
    std::unique_ptr<BackgroundProcess> process_;
    std::string host_;
    std::string why_not_;
};

}  // namespace vardel::test
