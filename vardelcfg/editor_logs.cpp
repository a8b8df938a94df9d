#include "vardelcfg/editor_logs.h"

#include <filesystem>

#include "common/log_file.h"
#include "common/my_error.h"
#include "common/mystring.h"
#include "common/registry.h"
#include "common/smtp_mailer.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"
#include "platform/file_info.h"

namespace vardel {

namespace {

using Icon = EditorMessage::Icon;

constexpr const char* kLogError = "Log Error";

bool mail_with_smtp(const GeneralSettings& g, const std::string& to, const std::string& subject,
                    const std::string& body, std::string& error) {
    SmtpMailer mailer;
    mailer.set_host(g.SMTPHost);
    mailer.set_from(g.FromEmail);
    return mailer.send(to, "", subject, body, &error);
}

std::optional<registry::Key> product_key(const registry::Store& store) {
    try {
        return registry::open_key(store, registry::Root::LocalMachine, kProductKey);
    } catch (const MyError&) {
        return std::nullopt;
    }
}

}  // namespace

EditorLogs::EditorLogs(const GeneralSettings& settings, registry::Store store, Opener opener,
                       Mailer mailer)
    : settings_(settings),
      store_(std::move(store)),
      opener_(std::move(opener)),
      mailer_(mailer ? std::move(mailer) : Mailer(mail_with_smtp)) {}

std::string EditorLogs::log_file(int64_t n) const {
    return LogFile::path_of(settings_.LogFilePath, n);
}

std::string EditorLogs::item_text(int64_t n) const {
    platform::FileInfo fi;
    if (!platform::stat_path_following(log_file(n), fi))
        return strprintf("Log %lld: (not found)", static_cast<long long>(n));
    std::string when = ctime_text(fi.mtime_sec);
    while (!when.empty() && (when.back() == '\n' || when.back() == ' ')) when.pop_back();
    return strprintf("Log %lld: to %s", static_cast<long long>(n), when.c_str());
}

std::vector<std::string> EditorLogs::item_texts() const {
    std::vector<std::string> texts;
    for (int64_t n = 0; n < settings_.KeepNLogs; ++n) texts.push_back(item_text(n));
    return texts;
}

std::optional<EditorMessage> EditorLogs::edit_log(std::optional<int64_t> selected) const {
    int64_t n = 0;
    if (selected) {
        n = *selected;
    } else {
        std::optional<registry::Key> key = product_key(store_);
        try {
            if (!key) throw MyError(NOT_FOUND, "");
            n = registry::read_number(*key, kCurrentCycleValue, 0);
        } catch (const MyError&) {
            return EditorMessage{"Can't get current log number", "Oops!", Icon::Stop};
        }
    }
    std::string path = log_file(n);
    platform::FileInfo fi;
    if (!platform::stat_path_following(path, fi) || !fi.is_regular())
        return EditorMessage{"Log file not found", "Oops", Icon::Stop};
    if (!opener_(path))
        return EditorMessage{strprintf("Can't open %s", path.c_str()), "Oops", Icon::Stop};
    return std::nullopt;
}

std::optional<EditorMessage> EditorLogs::cycle_now() const {
    const EditorMessage no_registry{"Can't open registry entry for Cycle\n", kLogError,
                                    Icon::Exclamation};
    std::optional<registry::Key> key = product_key(store_);
    if (!key) return no_registry;
    int64_t current = 0;
    try {
        current = registry::read_number(*key, kCurrentCycleValue, 0);
    } catch (const MyError&) {
        return no_registry;
    }

    if (settings_.MailOldLog) {
        std::string path = log_file(current);
        MyString text;
        if (!text.read_text_file(path))
            return EditorMessage{strprintf("Can't load log for mailing: %s\n", path.c_str()),
                                 kLogError, Icon::Exclamation};
        std::string error;
        if (!mailer_(settings_, settings_.MailLogEmail, "Completed Log", text.str(), error))
            return EditorMessage{strprintf("Can't mail log %s\n", path.c_str()), kLogError,
                                 Icon::Exclamation};
    }

    int64_t next = current + 1 < settings_.KeepNLogs ? current + 1 : 0;
    try {
        registry::write_number(*key, kCurrentCycleValue, static_cast<int32_t>(next));
    } catch (const MyError&) {
        // The number did not move: emptying "the next" log now would empty
        // the one in use.
        return no_registry;
    }
    std::error_code ec;
    std::filesystem::remove(log_file(next), ec);
    return std::nullopt;
}

}  // namespace vardel
