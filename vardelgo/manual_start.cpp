#include "vardelgo/manual_start.h"

#include "common/my_error.h"
#include "common/pipe_record.h"
#include "common/text_helpers.h"
#include "pipeclient/control_client.h"

namespace vardel {

namespace {

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

ManualStart::ManualStart(const BackupSetTable& sets, Sender sender)
    : sets_(sets), sender_(std::move(sender)) {
    if (!sender_)
        sender_ = [](const std::string& name) { ControlClient::send_once(PIPE_RUN_SET, name); };
}

std::string ManualStart::name_from_command_line(std::string_view text) {
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    bool quoted = !text.empty() && text.front() == '"';
    if (quoted) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (quoted && !text.empty() && text.back() == '"') text.remove_suffix(1);
    return std::string(text);
}

std::string ManualStart::join_arguments(const std::vector<std::string>& args) {
    std::string out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i) out += ' ';
        out += args[i];
    }
    return out;
}

const BackupSet* ManualStart::find(std::string_view name) const {
    for (const BackupSet& s : sets_)
        if (iequals(s.Name, name)) return &s;
    return nullptr;
}

void ManualStart::send(const std::string& name) const {
    sender_(name);
}

ManualStart::Outcome ManualStart::start_from_command_line(const std::string& typed,
                                                          std::string& message) const {
    const BackupSet* set = find(typed);
    if (!set) {
        message = strprintf("Specified backup name (%s) not found", typed.c_str());
        return Outcome::NotFound;
    }
    try {
        send(set->Name);
    } catch (const MyError& e) {
        message = e.message();
        return Outcome::Failed;
    }
    return Outcome::Sent;
}

}  // namespace vardel
