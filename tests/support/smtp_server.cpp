#include "tests/support/smtp_server.h"

#include <filesystem>

#include "tests/support/scratch.h"

namespace vardel::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// aiosmtpd writes every message it accepts as one JSON file.
constexpr const char* kServer = R"(
import asyncio, json, os, sys
from aiosmtpd.smtp import SMTP
out, port_file = sys.argv[1], sys.argv[2]
class Keep:
    async def handle_DATA(self, server, session, envelope):
        path = os.path.join(out, "msg%04d.json" % len(os.listdir(out)))
        with open(path + ".tmp", "w") as f:
            json.dump({"from": envelope.mail_from, "to": envelope.rcpt_tos,
                       "data": envelope.original_content.decode("latin-1")}, f)
        os.rename(path + ".tmp", path)
        return "250 OK"
async def main():
    loop = asyncio.get_running_loop()
    server = await loop.create_server(lambda: SMTP(Keep()), "127.0.0.1", 0)
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.sockets[0].getsockname()[1]))
    os.rename(port_file + ".tmp", port_file)
    await asyncio.Event().wait()
asyncio.run(main())
)";

constexpr const char* kReader = R"(
import json, os, sys
d = sys.argv[1]
for n in sorted(os.listdir(d)):
    if n.endswith(".json"):
        m = json.load(open(os.path.join(d, n)))
        sys.stdout.write(m["from"] + "|" + ",".join(m["to"]) + "|" + m["data"] + "\0")
)";

}  // namespace

SmtpServer::SmtpServer(const std::string& dir) : dir_(dir) {
    fs::create_directories(dir_ + "/mail");
    write_whole_file(dir_ + "/server.py", kServer);
    process_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{"/usr/bin/python3", dir_ + "/server.py", dir_ + "/mail",
                                 dir_ + "/port"},
        std::vector<std::string>{}, dir_ + "/server.log");
    if (wait_until([&] { return fs::exists(dir_ + "/port"); }, 20s))
        host_ = "127.0.0.1:" + read_whole_file(dir_ + "/port");
    else
        why_not_ = "aiosmtpd did not start: " + read_whole_file(dir_ + "/server.log");
}

std::vector<std::string> SmtpServer::messages() const {
    ChildResult r = run_program({"/usr/bin/python3", "-c", kReader, dir_ + "/mail"});
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t i = 0; i < r.out.size(); ++i)
        if (r.out[i] == '\0') {
            out.push_back(r.out.substr(start, i - start));
            start = i + 1;
        }
    return out;
}

}  // namespace vardel::test
