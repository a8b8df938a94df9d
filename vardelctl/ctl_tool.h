#pragma once
// vardelctl's logic: the requests of the control socket from a shell.
//
//   status [--raw]         the status text, labelled ("Enabled: yes"); --raw:
//                          its ten lines as they come (CR LF become LF)
//   reload                 pulse the reload event: the service reads its
//                          settings again (as the editor's save does)
//   run NAME               run the set NAME now (queued behind a running one);
//                          a name that no set has is refused here, since the
//                          service ignores it without a word
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
// service"), no such set, the request refused ("Permission denied": only
// root and members of the group vardel may change the service's state), the
// connection broke, or follow --until ended without its record; 2 bad
// command line. Messages go to `err`.
// One object per command line; not thread-safe.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/pipe_record.h"
#include "pipeclient/control_client.h"

namespace vardel {

class CtlTool {
  public:
    // The names of the backup sets in the settings store; none when the
    // store cannot be read (the name then goes to the service unchecked).
    using SetNames = std::function<std::optional<std::vector<std::string>>()>;

    // An empty path is the service's own socket (platform::control_socket_path()).
    explicit CtlTool(std::string socket_path = {}, SetNames set_names = stored_set_names);

    static std::optional<std::vector<std::string>> stored_set_names();

    // args without the program name.
    int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

    static void print_help(std::ostream& out);
    // "CODE<TAB>TEXT" as follow prints it (no line end).
    static std::string record_line(const PipeRecord& record);
    // The status text with LF line ends, ten lines each ending in LF.
    static std::string status_lines(const std::string& status_text);
    // The lines a person reads: "Service: ...", "Computer: ...", "Enabled:
    // yes", "Running: <set>" or "Running: no", and the next-run line.
    static std::string labelled_status(const std::string& status_text);

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
    // Sends a request the service answers only with a refusal; 1 with
    // "Permission denied" when refused.
    int send_on(ControlClient& client, uint32_t code, const std::string& text, std::ostream& err);
    int run_set(const std::string& name, std::ostream& err);
    int reload(std::ostream& err);
    int follow(const FollowOptions& o, std::ostream& out, std::ostream& err);

    std::string socket_path_;
    SetNames set_names_;
};

}  // namespace vardel
