#pragma once
// vardelgo's logic: ask the service to run one backup set now, through a
// one-shot connection, without waiting for any answer. The command-line path
// lives here; the dialog (a later widget layer) reuses find() and send().
//
// Thread safety: one thread at a time.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/backup_set_table.h"

namespace vardel {

class ManualStart {
  public:
    // Sends PIPE_RUN_SET with a set's name; throws MyError when no service
    // answers. The default is ControlClient::send_once on the service's socket.
    using Sender = std::function<void(const std::string& name)>;

    explicit ManualStart(const BackupSetTable& sets, Sender sender = {});

    // The whole argument text as a set name: leading blanks skipped; then, when
    // it begins with a double quote, that quote is skipped, trailing blanks go
    // and a final double quote goes too; otherwise only trailing blanks go.
    static std::string name_from_command_line(std::string_view text);
    // The arguments after the program name joined by single blanks, as one
    // command-line text.
    static std::string join_arguments(const std::vector<std::string>& args);

    // The first set in table order whose name equals `name` without regard
    // to case; nullptr when none does.
    const BackupSet* find(std::string_view name) const;

    // Sends the run request for `name` (as stored); MyError 18 "Couldn't
    // open connection to service" when no service answers.
    void send(const std::string& name) const;

    enum class Outcome { Sent, NotFound, Failed };
    // The command-line path: finds the set named by `typed` and sends its
    // stored name. `message` gets the text to show on NotFound ("Specified
    // backup name (%s) not found") and Failed (the error's text).
    Outcome start_from_command_line(const std::string& typed, std::string& message) const;

  private:
    const BackupSetTable& sets_;
    Sender sender_;
};

}  // namespace vardel
