#include "vardelctl/ctl_tool.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <system_error>

#include "common/my_error.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"
#include "platform/named_event.h"

namespace vardel {

namespace {

using Clock = std::chrono::steady_clock;

// How long a request waits for the service's answer.
constexpr auto kAnswerTimeout = std::chrono::seconds(10);
constexpr const char* kNoService = "Couldn't open connection to service";
constexpr const char* kBroken = "Service connection broken!";

bool parse_seconds(const std::string& s, std::chrono::milliseconds& out) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (errno || *end || !std::isfinite(v) || v < 0 || v > 1e9) return false;
    out = std::chrono::milliseconds(static_cast<long long>(v * 1000));
    return true;
}

bool parse_count(const std::string& s, long& out) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (errno || *end || v < 1) return false;
    out = v;
    return true;
}

bool parse_codes(const std::string& s, std::vector<uint32_t>& out) {
    size_t start = 0;
    while (start <= s.size()) {
        size_t comma = s.find(',', start);
        std::string piece =
            s.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        errno = 0;
        char* end = nullptr;
        unsigned long v = std::strtoul(piece.c_str(), &end, 10);
        if (piece.empty() || errno || *end || v > UINT32_MAX) return false;
        out.push_back(static_cast<uint32_t>(v));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return !out.empty();
}

int usage(std::ostream& err, const std::string& why) {
    err << "vardelctl: " << why << " (try --help)\n";
    return 2;
}

}  // namespace

CtlTool::CtlTool(std::string socket_path, SetNames set_names)
    : socket_path_(std::move(socket_path)), set_names_(std::move(set_names)) {}

std::optional<std::vector<std::string>> CtlTool::stored_set_names() {
    try {
        registry::Store store = registry::current_store(registry::Transaction::Mode::Read);
        registry::Transaction tx(store, registry::Transaction::Mode::Read);
        std::vector<std::string> names;
        if (auto sets = registry::open_key(store, registry::Root::LocalMachine, kBackupSetsKey)) {
            std::string name;
            for (size_t i = 0; registry::enum_subkey(*sets, i, name); ++i) names.push_back(name);
        }
        tx.commit();
        return names;
    } catch (const MyError&) {
        return std::nullopt;
    }
}

void CtlTool::print_help(std::ostream& out) {
    out << "Usage: vardelctl COMMAND\n"
           "  status [--raw]         print the service's status, labelled (--raw: its ten\n"
           "                         lines as the service sends them)\n"
           "  reload                 make the service read its settings again\n"
           "  run NAME               run the backup set NAME now\n"
           "  pause | resume | stop  the running backup (or the next one); prints the answer\n"
           "  enable | disable       let scheduled backups start, or not\n"
           "  shutdown               end the service\n"
           "  follow [--timeout S] [--count N] [--until CODE[,CODE...]]\n"
           "                         print notices and log lines as CODE<TAB>TEXT until the\n"
           "                         connection ends, S seconds pass, N records came or a\n"
           "                         record with one of the CODEs came\n"
           "  --help, --version\n"
           "Exit status: 0 done, 1 no service, no such set or connection broken,\n"
           "2 bad command line.\n";
}

std::string CtlTool::record_line(const PipeRecord& record) {
    std::string_view t = record.text;
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.remove_suffix(1);
    std::string line = std::to_string(record.code) + "\t";
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') continue;
        if (t[i] == '\n')
            line += "\\n";
        else
            line += t[i];
    }
    return line;
}

std::string CtlTool::status_lines(const std::string& status_text) {
    std::string out;
    for (size_t i = 0; i < status_text.size(); ++i) {
        if (status_text[i] == '\r' && i + 1 < status_text.size() && status_text[i + 1] == '\n')
            continue;
        out += status_text[i];
    }
    return out + "\n";
}

std::string CtlTool::labelled_status(const std::string& status_text) {
    std::vector<std::string> line;
    std::string lf = status_lines(status_text);
    size_t start = 0;
    for (size_t end; (end = lf.find('\n', start)) != std::string::npos; start = end + 1)
        line.push_back(lf.substr(start, end - start));
    line.resize(10);
    std::string out = "Service: " + line[1] + " " + line[2] + "\n";
    out += "Computer: " + line[3] + "\n";
    out += std::string("Enabled: ") + (line[6] == "1" ? "yes" : "no") + "\n";
    out += "Running: " + (line[7] == "1" ? line[8] : std::string("no")) + "\n";
    // "Next backup: ..." or "No backups scheduled"; empty while one runs.
    if (!line[9].empty()) out += line[9] + "\n";
    return out;
}

int CtlTool::run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) return usage(err, "no command");
    const std::string& cmd = args[0];
    auto no_more = [&](size_t n) { return args.size() == n; };
    if (cmd == "--help") {
        print_help(out);
        return 0;
    }
    if (cmd == "--version") {
        out << "vardelctl " << VARDEL_VERSION << "\n";
        return 0;
    }
    if (cmd == "follow") {
        FollowOptions o;
        if (!parse_follow(args, o, err)) return 2;
        return follow(o, out, err);
    }
    if (cmd == "run") {
        if (!no_more(2) || args[1].empty()) return usage(err, "run takes one backup set name");
        return run_set(args[1], err);
    }
    if (cmd == "status" && no_more(2) && args[1] == "--raw")
        return ask(PIPE_SINGLE_STATUS, {PIPE_STATUS}, out, err);
    if (!no_more(1)) return usage(err, "unexpected argument " + args[1]);
    if (cmd == "status") {
        std::ostringstream raw;
        int rc = ask(PIPE_SINGLE_STATUS, {PIPE_STATUS}, raw, err);
        if (rc == 0) out << labelled_status(raw.str()) << std::flush;
        return rc;
    }
    if (cmd == "reload") return reload(err);
    if (cmd == "pause") return ask(PIPE_PAUSE, {PIPE_INFO, PIPE_ALERT}, out, err);
    if (cmd == "resume") return ask(PIPE_RESUME, {PIPE_INFO, PIPE_ALERT}, out, err);
    if (cmd == "stop") return ask(PIPE_STOP, {PIPE_INFO, PIPE_ALERT}, out, err);
    if (cmd == "enable") return send_only(PIPE_ENABLE, "", err);
    if (cmd == "disable") return send_only(PIPE_DISABLE, "", err);
    if (cmd == "shutdown") return send_only(PIPE_SHUT_DOWN, "", err);
    return usage(err, "unknown command " + cmd);
}

bool CtlTool::parse_follow(const std::vector<std::string>& args, FollowOptions& o,
                           std::ostream& err) {
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool has_value = i + 1 < args.size();
        if (a == "--timeout" && has_value) {
            if (!parse_seconds(args[++i], o.timeout)) {
                usage(err, "--timeout wants seconds, not " + args[i]);
                return false;
            }
        } else if (a == "--count" && has_value) {
            if (!parse_count(args[++i], o.count)) {
                usage(err, "--count wants a number from 1 up, not " + args[i]);
                return false;
            }
        } else if (a == "--until" && has_value) {
            if (!parse_codes(args[++i], o.until)) {
                usage(err, "--until wants record codes like 14,15,16, not " + args[i]);
                return false;
            }
        } else {
            usage(err, "unexpected argument to follow: " + a);
            return false;
        }
    }
    return true;
}

bool CtlTool::open(ControlClient& client, std::ostream& err) {
    if (client.connect()) return true;
    err << kNoService << "\n";
    return false;
}

int CtlTool::ask(uint32_t code, const std::vector<uint32_t>& answers, std::ostream& out,
                 std::ostream& err) {
    ControlClient client(kBroken, socket_path_);
    if (!open(client, err)) return 1;
    if (!client.queue_message(code)) {
        err << "QueueMessage failure\n";
        return 1;
    }
    auto deadline = Clock::now() + kAnswerTimeout;
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        PipeRecord r;
        ControlClient::ReadResult got =
            left.count() > 0 ? client.read_record(r, left) : ControlClient::ReadResult::TimedOut;
        if (got == ControlClient::ReadResult::Closed) {
            err << kBroken << "\n";
            return 1;
        }
        if (got == ControlClient::ReadResult::TimedOut) {
            err << "No answer from service\n";
            return 1;
        }
        if (r.code == PIPE_ALERT && r.text == kPermissionDeniedText) {
            err << kPermissionDeniedText << "\n";
            return 1;
        }
        if (std::find(answers.begin(), answers.end(), r.code) == answers.end()) continue;
        if (code == PIPE_SINGLE_STATUS)
            out << status_lines(r.text);
        else
            out << record_line(r) << "\n";
        out.flush();
        return 0;
    }
}

int CtlTool::send_only(uint32_t code, const std::string& text, std::ostream& err) {
    ControlClient client(kBroken, socket_path_);
    if (!open(client, err)) return 1;
    return send_on(client, code, text, err);
}

int CtlTool::send_on(ControlClient& client, uint32_t code, const std::string& text,
                     std::ostream& err) {
    // The service answers these requests only when it refuses them. A status
    // request behind on the same connection is answered after it, in order:
    // the status without a refusal before it means the request was taken.
    if (!client.queue_message(code, text)) {
        err << "QueueMessage failure\n";
        return 1;
    }
    if (!client.queue_message(PIPE_SINGLE_STATUS)) {
        // A service that took the shut-down may have closed the connection
        // already; one that refused it keeps the connection open.
        if (code == PIPE_SHUT_DOWN) return 0;
        err << "QueueMessage failure\n";
        return 1;
    }
    auto deadline = Clock::now() + kAnswerTimeout;
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        PipeRecord r;
        ControlClient::ReadResult got =
            left.count() > 0 ? client.read_record(r, left) : ControlClient::ReadResult::TimedOut;
        if (got == ControlClient::ReadResult::Record && r.code == PIPE_STATUS) return 0;
        if (got == ControlClient::ReadResult::Record && r.code == PIPE_ALERT &&
            r.text == kPermissionDeniedText) {
            err << kPermissionDeniedText << "\n";
            return 1;
        }
        if (got == ControlClient::ReadResult::Closed) {
            // A service shutting down may end before it answers.
            if (code == PIPE_SHUT_DOWN) return 0;
            err << kBroken << "\n";
            return 1;
        }
        if (got == ControlClient::ReadResult::TimedOut) {
            err << "No answer from service\n";
            return 1;
        }
    }
}

int CtlTool::run_set(const std::string& name, std::ostream& err) {
    ControlClient client(kBroken, socket_path_);
    if (!open(client, err)) return 1;
    if (std::optional<std::vector<std::string>> names = set_names_()) {
        bool known = std::any_of(names->begin(), names->end(),
                                 [&](const std::string& n) { return iequals(n, name); });
        if (!known) {
            err << "Specified backup name (" << name << ") not found\n";
            return 1;
        }
    }
    return send_on(client, PIPE_RUN_SET, name, err);
}

int CtlTool::reload(std::ostream& err) {
    // Only a listening service hears the pulse; without one there is nothing
    // to reload (it reads the settings when it starts).
    ControlClient client(kBroken, socket_path_);
    if (!open(client, err)) return 1;
    try {
        platform::NamedEvent(kReloadEventName).pulse();
    } catch (const std::system_error& e) {
        err << "Can't signal the service: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

int CtlTool::follow(const FollowOptions& o, std::ostream& out, std::ostream& err) {
    ControlClient client(kBroken, socket_path_);
    if (!open(client, err)) return 1;
    if (!client.queue_message(PIPE_REGISTER) || !client.queue_message(PIPE_REQUEST_ONGOING)) {
        err << "QueueMessage failure\n";
        return 1;
    }
    const bool limited = o.timeout.count() >= 0;
    auto deadline = Clock::now() + o.timeout;
    long seen = 0;
    while (true) {
        auto wait = std::chrono::milliseconds(-1);
        if (limited) {
            wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (wait.count() <= 0) break;
        }
        PipeRecord r;
        ControlClient::ReadResult got = client.read_record(r, wait);
        if (got == ControlClient::ReadResult::TimedOut) break;
        if (got == ControlClient::ReadResult::Closed) {
            // The service went away: the end of what there is to follow.
            out << record_line(PipeRecord{PIPE_ALERT, kBroken}) << "\n";
            out.flush();
            return o.until.empty() ? 0 : 1;
        }
        out << record_line(r) << "\n";
        out.flush();
        if (std::find(o.until.begin(), o.until.end(), r.code) != o.until.end()) return 0;
        if (o.count > 0 && ++seen >= o.count) return 0;
    }
    return o.until.empty() ? 0 : 1;
}

}  // namespace vardel
