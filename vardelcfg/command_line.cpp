#include "vardelcfg/command_line.h"

#include <functional>
#include <optional>
#include <system_error>

#include "common/general_settings.h"
#include "common/my_error.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "platform/terminal.h"
#include "vardelcfg/editor_state.h"
#include "vardelcfg/settings_file.h"

namespace vardel {

namespace {

constexpr const char* kHelp =
    "usage: vardelcfg [OPTION]\n"
    "\n"
    "Without an option: the settings editor \"Vardel Settings\", the suite-wide\n"
    "settings and every backup set, saved to the settings store; the backup\n"
    "service is told to reload them. With an option, without a window:\n"
    "  --export-settings FILE           write the suite-wide settings to FILE\n"
    "  --import-settings FILE           read a settings file into the settings\n"
    "  --export-sets FILE [--set NAME]  write every backup set (or the set NAME) to FILE\n"
    "  --import-sets FILE               add the backup sets of FILE (a set of the same\n"
    "                                   name is replaced)\n"
    "  --set-password encoding|share [--stdin]\n"
    "                                   set the encoding or share password: asked twice\n"
    "                                   on a terminal, or one line from standard input\n"
    "  --help, --version\n"
    "An import saves the settings and tells the service to reload.\n"
    "Exit status: 0 done, 1 failed (nothing changed), 2 bad command line.\n";

void print_message(std::ostream& err, const std::string& text) {
    std::string_view t = text;
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.remove_suffix(1);
    err << t << '\n';
}

// Messages first, then the failure, if any. True when the operation was done.
bool report(const SettingsFile::Result& r, std::ostream& err) {
    for (const EditorMessage& m : r.messages) print_message(err, m.text);
    if (!r.error.empty()) print_message(err, r.error);
    return r.done;
}

// The store and the settings in it, as the window starts with them.
struct Loaded {
    registry::Store store;
    GeneralSettings settings;
    std::string data_path;
};

std::optional<Loaded> load(std::ostream& err, registry::Transaction::Mode mode) {
    try {
        Loaded l;
        l.store = registry::current_store(mode);
        l.settings.load(l.store);
        if (auto key = registry::open_key(l.store, registry::Root::LocalMachine, kProductKey))
            l.data_path = registry::read_text(*key, kDataPathValue, "");
        return l;
    } catch (const MyError& e) {
        print_message(err, e.message());
        return std::nullopt;
    }
}

// Changes the settings through the editor's own state and saves them as its
// Save does: one transaction, then the service told to reload.
int change_and_save(Loaded& l, const std::function<void(EditorState&)>& change, std::ostream& err) {
    try {
        std::optional<platform::NamedEvent> reload;
        try {
            reload.emplace(kReloadEventName);
        } catch (const std::system_error& e) {
            print_message(err, strprintf("Can't create vardeld signal event -- %s",
                                         system_error_text(e.code().value())));
            return 1;
        }
        EditorState state(std::move(l.settings),
                          {l.store, l.data_path, l.store->read_only(), &*reload});
        state.start();
        state.store_pages();
        change(state);
        EditorState::SaveResult r = state.save();
        using Outcome = EditorState::SaveResult::Outcome;
        switch (r.outcome) {
            case Outcome::Written:
            case Outcome::NothingToWrite:
                return 0;
            case Outcome::InvalidName:
            case Outcome::InvalidRepeat:
            case Outcome::NotSignalled:
                print_message(err, r.message);
                return 1;
            case Outcome::ReadOnly:
                print_message(err,
                              strprintf("The settings store %s may not be written by %s",
                                        l.store->path().c_str(), platform::account_name().c_str()));
                return 1;
        }
        return 1;
    } catch (const MyError& e) {
        print_message(err, e.message());
        return 1;
    }
}

std::optional<std::string> ask_password(const std::string& which, bool from_stdin, int in_fd,
                                        std::ostream& err) {
    if (from_stdin) {
        std::optional<std::string> line = platform::read_line(in_fd);
        if (!line) print_message(err, "No password on standard input");
        return line;
    }
    err.flush();
    std::optional<std::string> first =
        platform::read_hidden_line(in_fd, 2, strprintf("New %s password: ", which.c_str()));
    if (!first) {
        print_message(err, "No password given");
        return std::nullopt;
    }
    std::optional<std::string> second = platform::read_hidden_line(
        in_fd, 2, strprintf("Retype the new %s password: ", which.c_str()));
    if (!second) {
        print_message(err, "No password given");
        return std::nullopt;
    }
    if (*first != *second) {
        print_message(err, "The passwords do not match");
        return std::nullopt;
    }
    return first;
}

}  // namespace

const char* CommandLine::help() {
    return kHelp;
}

bool CommandLine::wanted(const std::vector<std::string>& args) {
    // Qt's own options ("-platform", "-style") start with one dash and are
    // the window's; every option of this program starts with two.
    return !args.empty() && args[0].starts_with("--");
}

int CommandLine::usage(std::ostream& err, const std::string& why) {
    err << "vardelcfg: " << why << " (try --help)\n";
    return 2;
}

int CommandLine::run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     int in_fd) {
    if (args.empty()) return usage(err, "no option given");
    const std::string& op = args[0];
    if (op == "--help" && args.size() == 1) {
        out << kHelp;
        return 0;
    }
    if (op == "--version" && args.size() == 1) {
        out << "vardelcfg " << VARDEL_VERSION << '\n';
        return 0;
    }

    if (op == "--export-settings" || op == "--import-settings" || op == "--import-sets") {
        if (args.size() != 2) return usage(err, op + " takes one FILE");
        const std::string& file = args[1];
        bool exporting = op == "--export-settings";
        std::optional<Loaded> l = load(err, exporting ? registry::Transaction::Mode::Read
                                                      : registry::Transaction::Mode::Write);
        if (!l) return 1;
        if (exporting) return report(SettingsFile::export_settings(file, l->settings), err) ? 0 : 1;
        bool imported = false;
        return change_and_save(
                   *l,
                   [&](EditorState& state) {
                       SettingsFile::Result r =
                           op == "--import-settings"
                               ? SettingsFile::import_settings(file, state.settings())
                               : SettingsFile::import_sets(file, state.settings().backup_sets());
                       imported = report(r, err);
                       if (!imported) {
                           if (r.messages.empty() && r.error.empty())
                               print_message(err,
                                             strprintf("Nothing to import in %s", file.c_str()));
                           return;
                       }
                       if (op == "--import-settings")
                           state.general_replaced();
                       else
                           state.sets_replaced();
                   },
                   err) == 0 &&
                       imported
                   ? 0
                   : 1;
    }

    if (op == "--export-sets") {
        std::string file, name;
        bool one = false;
        if (args.size() == 2) {
            file = args[1];
        } else if (args.size() == 4 && args[2] == "--set") {
            file = args[1];
            name = args[3];
            one = true;
        } else {
            return usage(err, "--export-sets takes FILE [--set NAME]");
        }
        std::optional<Loaded> l = load(err, registry::Transaction::Mode::Read);
        if (!l) return 1;
        const BackupSetTable& sets = l->settings.backup_sets();
        if (!one) return report(SettingsFile::export_all_sets(file, sets), err) ? 0 : 1;
        const BackupSet* set = sets.find(name);
        if (!set) {
            print_message(err, strprintf("Specified backup name (%s) not found", name.c_str()));
            return 1;
        }
        return report(SettingsFile::export_set(file, *set), err) ? 0 : 1;
    }

    if (op == "--set-password") {
        bool from_stdin = args.size() == 3 && args[2] == "--stdin";
        if (args.size() != 2 && !from_stdin)
            return usage(err, "--set-password takes encoding|share [--stdin]");
        const std::string& which = args[1];
        if (which != "encoding" && which != "share")
            return usage(err, "--set-password takes encoding or share");
        if (!from_stdin && !platform::is_terminal(in_fd))
            return usage(err, "standard input is not a terminal: give the password with --stdin");
        std::optional<Loaded> l = load(err, registry::Transaction::Mode::Write);
        if (!l) return 1;
        std::optional<std::string> password = ask_password(which, from_stdin, in_fd, err);
        if (!password) return 1;
        return change_and_save(
            *l,
            [&](EditorState& state) {
                GeneralSettings& g = state.settings();
                (which == "encoding" ? g.EncodingPassword : g.SharePassword) = *password;
                state.general_replaced();
            },
            err);
    }

    return usage(err, "unknown option " + op);
}

}  // namespace vardel
