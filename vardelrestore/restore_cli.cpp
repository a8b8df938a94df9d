#include "vardelrestore/restore_cli.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>

#include "common/general_settings.h"
#include "common/my_error.h"
#include "common/set_lock.h"
#include "vardelrestore/backup_loader.h"
#include "vardelrestore/catalogue.h"
#include "vardelrestore/extractor.h"
#include "vardelrestore/version_list.h"

namespace vardel {

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

// No one to ask: messages go to standard error, a box with OK and Cancel
// takes OK (the item is skipped, the rest goes on), prompts are never
// needed (the options decide) and say No.
class CommandLineUi : public RestoreUi {
  public:
    explicit CommandLineUi(std::ostream& err) : err_(err) {}
    void message(const std::string& text, const std::string&, MessageKind) override {
        std::string t = text;
        while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
        err_ << t << "\n";
    }
    bool confirm(const std::string& text, const std::string& caption, MessageKind kind) override {
        message(text, caption, kind);
        return true;
    }
    PromptAnswer ask_overwrite(const std::string&) override { return PromptAnswer::No; }
    PromptAnswer ask_delete(const std::string&) override { return PromptAnswer::No; }

  private:
    std::ostream& err_;
};

struct Arguments {
    bool list = false;
    bool extract = false;
    std::string set, ini, to, base, password_file;
    std::optional<int32_t> cycle, save;
    bool single = false, include_others = false, password_stdin = false;
    ViewOptions view;
    std::optional<ExtractOptions::Overwrite> overwrite;
    std::optional<Extractor::Deletion> deletion;
    std::vector<std::string> paths;
};

bool parse_number(const std::string& text, int32_t& out) {
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < 1 || v > 1000000) return false;
    out = static_cast<int32_t>(v);
    return true;
}

// The reason, or "" when the arguments are good.
std::string parse(const std::vector<std::string>& args, Arguments& a) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (arg == "--list") {
            a.list = true;
        } else if (arg == "--extract") {
            a.extract = true;
        } else if (arg == "--set") {
            if (!value(a.set)) return "--set needs a name";
        } else if (arg == "--ini") {
            if (!value(a.ini)) return "--ini needs a file";
        } else if (arg == "--cycle" || arg == "--save") {
            int32_t n = 0;
            if (!value(v) || !parse_number(v, n)) return arg + " needs a number from 1";
            (arg == "--cycle" ? a.cycle : a.save) = n;
        } else if (arg == "--single") {
            a.single = true;
        } else if (arg == "--latest") {
            a.view.latest_only = true;
        } else if (arg == "--sort") {
            if (!value(v)) return "--sort needs filename, pathname or save";
            if (v == "filename") {
                a.view.by_pathname = false;
            } else if (v == "pathname") {
                a.view.by_pathname = true;
            } else if (v == "save") {
                a.view.by_save = true;
            } else {
                return "--sort needs filename, pathname or save";
            }
        } else if (arg == "--to") {
            if (!value(a.to)) return "--to needs a folder";
        } else if (arg == "--base") {
            if (!value(a.base)) return "--base needs a folder";
        } else if (arg == "--include-others") {
            a.include_others = true;
        } else if (arg == "--overwrite") {
            if (!value(v) || (v != "all" && v != "none")) return "--overwrite needs all or none";
            a.overwrite =
                v == "all" ? ExtractOptions::Overwrite::All : ExtractOptions::Overwrite::None;
        } else if (arg == "--delete") {
            if (!value(v) || (v != "all" && v != "none")) return "--delete needs all or none";
            a.deletion = v == "all" ? Extractor::Deletion::All : Extractor::Deletion::None;
        } else if (arg == "--password-file") {
            if (!value(a.password_file)) return "--password-file needs a file";
        } else if (arg == "--password-stdin") {
            a.password_stdin = true;
        } else if (arg.empty()) {
            return "an empty PATH";
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + arg;
        } else {
            a.paths.push_back(arg);
        }
    }
    if (a.list == a.extract) return "give either --list or --extract";
    if (!a.set.empty() && !a.ini.empty()) return "give --set or --ini, not both";
    if (a.list &&
        (!a.to.empty() || !a.paths.empty() || a.overwrite || a.deletion || !a.base.empty() ||
         a.include_others || a.password_stdin || !a.password_file.empty()))
        return "--list takes only the set, backup and view options";
    if (a.extract && a.to.empty()) return "--extract needs --to FOLDER";
    if (!a.password_file.empty() && a.password_stdin)
        return "give --password-file or --password-stdin, not both";
    return {};
}

std::string first_line(std::istream& in) {
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

const char* RestoreCli::help_text() {
    return "Usage: vardelrestore [FILE.SAF]\n"
           "       vardelrestore --list [--set NAME | --ini FILE] [--cycle K] [--save M]\n"
           "                     [--single] [--latest] [--sort filename|pathname|save]\n"
           "       vardelrestore --extract --to DIR [--set NAME | --ini FILE] [--cycle K]\n"
           "                     [--save M] [--single] [--latest] [--sort ...] [--base DIR]\n"
           "                     [--include-others] [--overwrite all|none] [--delete all|none]\n"
           "                     [--password-file F | --password-stdin] [PATH ...]\n"
           "Without --list or --extract the window \"Backup Extractor\" opens (with FILE.SAF:\n"
           "the set whose BACKUP.INI lies beside it).\n"
           "  --set NAME        a set of the settings; --ini FILE a destination's BACKUP.INI\n"
           "                    (the only set when neither is given)\n"
           "  --cycle K         the cycle (default: the newest); --save M the backups 1..M\n"
           "                    of it (default: all); --single only backup M (or the last)\n"
           "  --latest          only the newest version of each item\n"
           "  --sort            the list's order (default filename)\n"
           "  --to DIR          where items are rebuilt; --base DIR is dropped from the\n"
           "                    front of stored paths (items outside it are skipped unless\n"
           "                    --include-others)\n"
           "  --overwrite       existing files: all replaced, or none (the default)\n"
           "  --delete          recorded deletions: all carried out, or none (the default)\n"
           "  --password-file F, --password-stdin   the encoding password (first line)\n"
           "  PATH ...          only items at or below these stored paths\n"
           "  --help, --version\n"
           "Exit status: 0 done (\"Copy completed\"), 1 failed (\"Copy aborted\", or items\n"
           "not extracted), 2 bad command line.\n";
}

bool RestoreCli::wants(const std::vector<std::string>& args) {
    for (const std::string& a : args)
        if (a == "--list" || a == "--extract") return true;
    return false;
}

int RestoreCli::run(const std::vector<std::string>& args) {
    Arguments a;
    if (std::string why = parse(args, a); !why.empty()) {
        err_ << "vardelrestore: " << why << " (try --help)\n";
        return kUsage;
    }
    CommandLineUi ui(err_);
    Catalogue catalogue;
    std::optional<size_t> root;
    if (!a.ini.empty()) {
        size_t added = 0;
        switch (catalogue.add_from_ini(a.ini, &added)) {
            case Catalogue::AddResult::Unreadable:
                err_ << "Can't load specified INI\n";
                return kFailed;
            case Catalogue::AddResult::NotABackupIni:
                err_ << "Not a valid vardel backup INI, or values are missing\n";
                return kFailed;
            case Catalogue::AddResult::Added:
                root = added;
                break;
        }
    } else {
        GeneralSettings settings;
        try {
            settings.load();
        } catch (const std::exception& e) {
            err_ << "Can't load settings: " << e.what() << "\n";
            return kFailed;
        }
        catalogue.build(settings.backup_sets());
        if (!a.set.empty()) {
            root = catalogue.find_set(a.set);
            if (!root) {
                err_ << "vardelrestore: no backup set '" << a.set
                     << "' with a readable BACKUP.INI in its destination\n";
                return kFailed;
            }
        } else {
            for (size_t i = 0; i < catalogue.size(); ++i) {
                if (catalogue[i].level != CatalogueNode::Set) continue;
                if (root) {
                    err_ << "vardelrestore: several backup sets: name one with --set\n";
                    return kUsage;
                }
                root = i;
            }
            if (!root) {
                err_ << "vardelrestore: no backup set with a readable BACKUP.INI\n";
                return kFailed;
            }
        }
    }
    std::optional<size_t> node;
    int32_t cycle = 0;
    if (a.cycle) {
        cycle = *a.cycle;
    } else if (auto latest = catalogue.latest_cycle(*root)) {
        cycle = catalogue[*latest].cycle;
    }
    node = catalogue.find(*root, cycle, a.save.value_or(0));
    const std::string& name = catalogue[*root].set_name;
    if (!node) {
        err_ << "vardelrestore: '" << name << "' records no backup";
        if (cycle) err_ << " of cycle " << cycle;
        if (a.save) err_ << ", save " << *a.save;
        err_ << "\n";
        return kFailed;
    }

    VersionTable table;
    std::optional<SetLock> lock;
    BackupLoader loader(table, lock, ui);
    switch (loader.load(catalogue[*node], a.single)) {
        case BackupLoader::Outcome::InUse:
            return kFailed;
        case BackupLoader::Outcome::NoState:
            err_ << "vardelrestore: can't read the backups of '" << name << "'\n";
            return kFailed;
        case BackupLoader::Outcome::Loaded:
            break;
    }
    VersionList list;
    list.build(table, a.view);

    if (a.list) {
        for (int c = 0; c < VersionList::kColumnCount; ++c)
            out_ << VersionList::header(c) << (c + 1 < VersionList::kColumnCount ? "\t" : "\n");
        std::string line;
        for (size_t row = 0; row < list.size(); ++row) {
            line.clear();
            for (int c = 0; c < VersionList::kColumnCount; ++c) {
                line += list.cell(row, c);
                line += c + 1 < VersionList::kColumnCount ? '\t' : '\n';
            }
            out_.write(line.data(), static_cast<std::streamsize>(line.size()));
        }
        out_.flush();
        return out_ ? 0 : kFailed;
    }

    std::vector<uint32_t> records;
    std::vector<bool> matched(a.paths.size(), false);
    for (size_t row = 0; row < list.size(); ++row) {
        std::string_view path = list.record(row).path;
        bool take = a.paths.empty();
        for (size_t p = 0; p < a.paths.size(); ++p) {
            std::string_view want = a.paths[p];
            while (want.size() > 1 && want.back() == '/') want.remove_suffix(1);
            if (path == want || (path.substr(0, want.size()) == want &&
                                 (want.back() == '/' || path[want.size()] == '/'))) {
                take = true;
                matched[p] = true;
            }
        }
        if (take) records.push_back(list.record_index(row));
    }
    for (size_t p = 0; p < a.paths.size(); ++p) {
        if (!matched[p]) {
            err_ << "vardelrestore: nothing is saved at " << a.paths[p] << "\n";
            return kFailed;
        }
    }

    ExtractOptions options;
    options.target_folder = a.to;
    options.base_directory = a.base;
    options.ignore_other_files = !a.include_others;
    options.overwrite = a.overwrite.value_or(ExtractOptions::Overwrite::None);
    if (!a.password_file.empty()) {
        std::ifstream f(a.password_file);
        if (!f) {
            err_ << "vardelrestore: can't read " << a.password_file << "\n";
            return kFailed;
        }
        options.password = first_line(f);
    } else if (a.password_stdin) {
        options.password = first_line(in_);
    }
    std::atomic<bool> stop{false};
    Extractor extractor(catalogue[*node], table, options, ui, stop);
    extractor.set_deletion(a.deletion.value_or(Extractor::Deletion::None));
    bool completed = extractor.run(records);
    if (!completed) {
        err_ << "Copy aborted\n";
        return kFailed;
    }
    out_ << "Copy completed\n";
    out_.flush();
    if (extractor.failed_items() > 0) {
        err_ << extractor.failed_items() << " item(s) could not be extracted\n";
        return kFailed;
    }
    return 0;
}

}  // namespace vardel
