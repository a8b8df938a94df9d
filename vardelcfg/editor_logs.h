#pragma once
// The editor's view of the service's log files: one item per log number
// that the rotation keeps, opening a log in the desktop's program for text,
// and cycling the logs by hand (mailing the current one first when the
// settings ask for it).
//
// The log numbers and "CurrentCycle" are the service's own (LogFile); the
// records are the editor's, as they are in memory. One thread at a time
// (cycling, which may wait for a mail server, can run off the GUI thread).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/general_settings.h"
#include "common/registry.h"
#include "vardelcfg/editor_message.h"

namespace vardel {

class EditorLogs {
  public:
    // Opens a file in the program the desktop has for it, without waiting
    // for that program; false when it could not be started.
    using Opener = std::function<bool(const std::string& path)>;
    // Mails `body` with the settings' server and sender; false with the
    // mailer's words.
    using Mailer = std::function<bool(const GeneralSettings& settings, const std::string& to,
                                      const std::string& subject, const std::string& body,
                                      std::string& error)>;

    // "CurrentCycle" is read and written in `store`. Without a mailer: SMTP
    // through the settings' "SMTPHost".
    EditorLogs(const GeneralSettings& settings, registry::Store store, Opener opener,
               Mailer mailer = {});

    // The file of log number n.
    std::string log_file(int64_t n) const;
    // "Log %d: to %s" with the file's last-write time, or "Log %d: (not found)".
    std::string item_text(int64_t n) const;
    // The texts of the items 0 .. KeepNLogs - 1.
    std::vector<std::string> item_texts() const;

    // Opens log `selected`, or the current one when none is selected. A
    // message when there is nothing to open.
    std::optional<EditorMessage> edit_log(std::optional<int64_t> selected) const;

    // "Cycle Logs Now": mails the current log when MailOldLog is on, moves
    // "CurrentCycle" on (to 0 past KeepNLogs - 1) and empties the new
    // current log. On any failure a message, and nothing has changed.
    std::optional<EditorMessage> cycle_now() const;

  private:
    const GeneralSettings& settings_;
    registry::Store store_;
    Opener opener_;
    Mailer mailer_;
};

}  // namespace vardel
