#include "vardelgo/manual_start.h"

#include <algorithm>

#include "common/log.h"
#include "common/my_error.h"
#include "common/pipe_record.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"
#include "pipeclient/control_client.h"

namespace vardel {

namespace {

constexpr const char* kLastValue = "last";

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

std::vector<std::string> ManualStart::sorted_names() const {
    std::vector<std::string> names;
    for (const BackupSet& s : sets_) names.push_back(s.Name);
    std::stable_sort(names.begin(), names.end(),
                     [](const std::string& a, const std::string& b) { return icompare(a, b) < 0; });
    return names;
}

std::optional<size_t> ManualStart::preselected(const std::vector<std::string>& names,
                                               std::string_view last) {
    if (last.empty()) return std::nullopt;
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i].size() >= last.size() &&
            iequals(std::string_view(names[i]).substr(0, last.size()), last))
            return i;
    return std::nullopt;
}

std::string ManualStart::read_last() {
    try {
        std::optional<registry::Key> key = registry::open_key(
            registry::Root::LocalMachine, registry::join_path(kProductKey, kStarterProgram));
        return key ? registry::read_text(*key, kLastValue, "") : std::string();
    } catch (const MyError& e) {
        log(LOG_DEBUG, "Can't read the last backup set started: %s\n", e.message());
        return {};
    }
}

void ManualStart::write_last(const std::string& name) {
    try {
        std::optional<registry::Key> key = registry::create_key(
            registry::Root::LocalMachine, registry::join_path(kProductKey, kStarterProgram));
        if (!key) throw MyError(OPERATION_FAILED, "Can't create registry path");
        registry::write_text(*key, kLastValue, name);
    } catch (const MyError& e) {
        log(LOG_DEBUG, "Last backup set started not remembered: %s\n", e.message());
    }
}

}  // namespace vardel
