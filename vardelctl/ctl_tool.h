#pragma once
// vardelctl's logic: the requests of the control socket from a shell.
//
//   status                 the status text, one line each (CR LF become LF)
//   run NAME               run the set NAME now (queued behind a running one)
//   pause | resume | stop  the running backup (or the next one); prints the
//                          service's answer as CODE<TAB>TEXT
//   enable | disable       let scheduled runs start, or not
//   shutdown               end the service
//   follow [--timeout S] [--count N] [--until CODE[,CODE...]]
//                          registers for notices and subscribes to the log,
//                          then prints every record as CODE<TAB>TEXT until
//                          the connection ends, S seconds pass, N records
//                          came, or a record with one of the CODEs came
//
// A record's text is printed without its trailing line end; a line break
// inside it shows as "\n", so every record is one line.
//
// Exit status: 0 done; 1 no service answers ("Couldn't open connection to
// service"), the connection broke, or follow --until ended without its
// record; 2 bad command line. Messages go to `err`.
// One object per command line; not thread-safe.
#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "common/pipe_record.h"
#include "pipeclient/control_client.h"

namespace vardel {

class CtlTool {
  public:
    // An empty path is the service's own socket (platform::control_socket_path()).
    explicit CtlTool(std::string socket_path = {});

    // args without the program name.
    int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

    static void print_help(std::ostream& out);
    // "CODE<TAB>TEXT" as follow prints it (no line end).
    static std::string record_line(const PipeRecord& record);
    // The status text with LF line ends, ten lines each ending in LF.
    static std::string status_lines(const std::string& status_text);

  private:
    struct FollowOptions {
        std::chrono::milliseconds timeout{-1};  // negative: no limit
        long count = -1;                        // negative: no limit
        std::vector<uint32_t> until;
    };
    static bool parse_follow(const std::vector<std::string>& args, FollowOptions& o,
                             std::ostream& err);

    bool open(ControlClient& client, std::ostream& err);
    // Sends `code` and prints the first answer with one of the given codes.
    int ask(uint32_t code, const std::vector<uint32_t>& answers, std::ostream& out,
            std::ostream& err);
    int send_only(uint32_t code, const std::string& text, std::ostream& err);
    int follow(const FollowOptions& o, std::ostream& out, std::ostream& err);

    std::string socket_path_;
};

}  // namespace vardel
