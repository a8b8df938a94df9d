#pragma once
// vardelgo's logic: ask the service to run one backup set now, through a
// one-shot connection, without waiting for any answer. The command-line path
// and what the "Start a Backup" dialog needs (its list, the remembered set)
// live here; the dialog itself is a thin widget layer over them.
//
// Thread safety: one thread at a time.
#include <functional>
#include <optional>
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

    // The set names as the dialog lists them: sorted without regard to case.
    std::vector<std::string> sorted_names() const;
    // The index of the first of `names` that begins with `last` (case
    // ignored); none when `last` is empty or nothing matches.
    static std::optional<size_t> preselected(const std::vector<std::string>& names,
                                             std::string_view last);

    // The value "last" of the program's key: the set last started from the
    // dialog ("" when none).
    static std::string read_last();
    // Remembers `name`, creating the key when needed. A store this account
    // may not write is no failure of the start: logged at DEBUG level only.
    static void write_last(const std::string& name);

  private:
    const BackupSetTable& sets_;
    Sender sender_;
};

}  // namespace vardel
