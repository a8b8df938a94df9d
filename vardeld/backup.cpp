#include "vardeld/backup.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <set>

#include "common/destination_names.h"
#include "common/log.h"
#include "common/my_error.h"
#include "common/set_lock.h"
#include "common/text_helpers.h"
#include "containers/password_stream.h"
#include "platform/process.h"
#include "platform/thread_priority.h"
#include "vardeld/container_saver.h"
#include "vardeld/scanner.h"
#include "vardeld/service_messages.h"

namespace vardel {

namespace fs = std::filesystem;

bool destination_full(int error_number) {
    return error_number == ENOSPC || error_number == EDQUOT;
}

MyError full_destination(const BackupRun& run, int error_number) {
    return MyError(0, strprintf("Can't write the backup to %s: %s", run.destination_folder.c_str(),
                                system_error_text(error_number)));
}

std::vector<std::string> setting_lines(const std::string& value) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < value.size()) {
        size_t start = i;
        while (i < value.size() && value[i] != '\r' && value[i] != '\n') ++i;
        std::string line = value.substr(start, i - start);
        if (!line.empty()) out.push_back(line);
        if (i < value.size() && value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
            ++i;
        if (i < value.size()) ++i;
    }
    return out;
}

Backup::Backup(const BackupSet& set, const GeneralSettings& general, RunFlags& flags,
               BackupServices services, const platform::Env& env)
    : run_(set, general, flags), services_(std::move(services)), env_(env) {
    if (!services_.share_logon) services_.share_logon = &default_logon_;
}

Backup::~Backup() = default;

int64_t Backup::now() const {
    return env_.now();
}

void Backup::execute(const char* setting, const std::string& command) {
    if (command.empty()) return;
    int err = 0;
    int code = env_.run_shell_command(command, &err);
    if (code == -1) {
        log(LOG_COMPLAIN, "%s failed (%d): %s\n", setting, -1, command.c_str());
        run_.report.add_line(
            strprintf("%s failed: Error %d: Command=%s", setting, err, command.c_str()));
    } else if (code != 0) {
        log(LOG_ALERT, "%s: %s : returned %d\n", setting, command.c_str(), code);
    } else {
        log(LOG_DEBUG, "%s: %s\n", setting, command.c_str());
    }
}

std::string Backup::output_name(int64_t cycle, int64_t sequence) const {
    switch (run_.set.SaveFormat) {
        case SAVE_SAF:
            return destination::saf_archive(cycle, sequence);
        case SAVE_ZIP:
            return destination::zip_archive(cycle, sequence);
        case SAVE_DISCRETE:
            return destination::files_folder(cycle, sequence);
        default:
            return std::string();
    }
}

bool Backup::delete_output(int64_t cycle, int64_t sequence) {
    bool ok = true;
    for (const std::string& name :
         {output_name(cycle, sequence), destination::list_file(cycle, sequence)}) {
        int err = 0;
        if (name.empty() || run_.destination.remove_tree(name, &err)) continue;
        // A folder someone else made is not the run's to empty.
        run_.report.note(LOG_COMPLAIN, "Can't delete %s%s: %s", run_.destination_folder.c_str(),
                         name.c_str(), system_error_text(err));
        ok = false;
    }
    return ok;
}

bool Backup::save_state(std::string& error) {
    int err = 0;
    if (run_.destination.write_file(destination::kStateFile, run_.state.serialise(), 0600, &error,
                                    &err))
        return true;
    if (destination_full(err)) throw full_destination(run_, err);
    return false;
}

bool Backup::remove_instance_keys(int64_t cycle, int64_t from, int64_t to) {
    // The backups of a reused slot are about to go: their records go first,
    // so a run killed while it deletes never leaves "BACKUP.INI" naming a
    // backup that is gone.
    bool changed = false;
    for (int64_t k = from; k <= to; ++k) {
        changed |= run_.state.remove(destination::kSection, destination::instance_key(cycle, k));
        changed |= run_.state.remove(destination::kSection, destination::check_value_key(cycle, k));
    }
    std::string error;
    if (!changed || save_state(error)) return true;
    run_.report.note(LOG_COMPLAIN, "Can't save BACKUP.INI: %s", error.c_str());
    return false;
}

namespace {

// A number as the suite writes it: decimal digits alone, from 1 up.
bool positive_number(const std::string& text) {
    if (text.empty() || text.size() > 18) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return std::stoll(text) > 0;
}

// "B<c>_<s>.SAF", "B<c>_<s>.ZIP", "B<c>_<s>" or "L<c>_<s>.TXT": the numbers.
bool backup_name(const std::string& name, int64_t& cycle, int64_t& sequence) {
    if (name.size() < 4 || (name[0] != 'B' && name[0] != 'L')) return false;
    size_t bar = name.find('_');
    if (bar == std::string::npos) return false;
    size_t end = name.find('.', bar);
    std::string tail = end == std::string::npos ? std::string() : name.substr(end);
    bool ok = name[0] == 'L' ? tail == ".TXT" : (tail.empty() || tail == ".SAF" || tail == ".ZIP");
    std::string c = name.substr(1, bar - 1), s = name.substr(bar + 1, end - bar - 1);
    if (!ok || !positive_number(c) || !positive_number(s)) return false;
    cycle = std::stoll(c);
    sequence = std::stoll(s);
    return true;
}

}  // namespace

bool Backup::state_usable() const {
    namespace d = destination;
    const IniDocument& st = run_.state;
    if (!positive_number(st.get_text(d::kSection, d::kSequence)) ||
        !positive_number(st.get_text(d::kSection, d::kCycle)))
        return false;
    // Written with the numbers by every run: one cut short lacks them.
    return positive_number(st.get_text(d::kSection, d::kLastBackupTime)) &&
           !st.get_text(d::kSection, d::kTrackDeleted).empty() &&
           !st.get_text(d::kSection, d::kEncode).empty();
}

bool Backup::backups_in_folder(std::map<std::pair<int64_t, int64_t>, int64_t>& found,
                               std::set<std::pair<int64_t, int64_t>>* listed) {
    std::vector<std::string> names;
    int err = 0;
    if (!run_.destination.list(names, &err)) {
        run_.report.note(LOG_COMPLAIN, "Can't read %s: %s", run_.destination_folder.c_str(),
                         system_error_text(err));
        return false;
    }
    for (const std::string& n : names) {
        int64_t c = 0, q = 0;
        platform::FileInfo fi;
        if (!backup_name(n, c, q) || !run_.destination.stat_entry(n, fi)) continue;
        if (n[0] == 'L' && listed) listed->insert({c, q});
        int64_t& t = found[{c, q}];
        t = std::max(t, fi.mtime_sec);
    }
    return true;
}

bool Backup::record_unlisted_backups() {
    // Backups the state does not name (a state cut short) would be invisible
    // to a restore: they are named from the folder. The slots this run is
    // about to clear hold none worth naming.
    std::map<std::pair<int64_t, int64_t>, int64_t> found;
    if (!backups_in_folder(found, nullptr)) return false;
    namespace d = destination;
    bool changed = false;
    for (const auto& [key, t] : found) {
        if (key.first == run_.cycle && key.second >= run_.sequence) continue;
        if (!run_.state.get_text(d::kSection, d::instance_key(key.first, key.second)).empty())
            continue;
        run_.report.note(LOG_ALERT,
                         "%s did not record the backup B%lld_%lld: named from the folder",
                         run_.state_file_path.c_str(), static_cast<long long>(key.first),
                         static_cast<long long>(key.second));
        run_.state.set_number(d::kSection, d::instance_key(key.first, key.second), t);
        changed = true;
    }
    std::string error;
    if (!changed || save_state(error)) return true;
    run_.report.note(LOG_COMPLAIN, "Can't save BACKUP.INI: %s", error.c_str());
    return false;
}

bool Backup::rebuild_state() {
    // Every backup of the suite's names, by (cycle, sequence): its time.
    std::map<std::pair<int64_t, int64_t>, int64_t> found;
    std::set<std::pair<int64_t, int64_t>> listed;
    if (!backups_in_folder(found, &listed)) return false;
    if (found.empty()) {
        run_.state = IniDocument();
        return true;
    }
    auto newest = found.begin();
    for (auto it = found.begin(); it != found.end(); ++it)
        if (it->second > newest->second ||
            (it->second == newest->second && it->first > newest->first))
            newest = it;
    const auto [cycle, sequence] = newest->first;
    int64_t first_time = newest->second;
    for (const auto& [key, t] : found)
        if (key.first == cycle && key.second <= sequence) first_time = std::min(first_time, t);

    namespace d = destination;
    const BackupSet& set = run_.set;
    IniDocument st;
    st.set_text(d::kSection, d::kName, set.Name);
    st.set_number(d::kSection, d::kCycles, std::max<int64_t>(set.CyclesToSave, 1));
    st.set_number(d::kSection, d::kBackupsPerCycle, std::max<int64_t>(set.BackupsPerCycle, 1));
    st.set_number(d::kSection, d::kSaveFormat, set.SaveFormat);
    st.set_number(d::kSection, d::kSequence, sequence);
    st.set_number(d::kSection, d::kCycle, cycle);
    st.set_number(d::kSection, d::kLastBackupTime, newest->second);
    st.set_number(d::kSection, d::kFirstBackupTime, first_time);
    st.set_number(d::kSection, d::kTrackDeleted, listed.count(newest->first) ? 1 : 0);
    st.set_number(d::kSection, d::kEncode,
                  set.PasswordEncode && !run_.general.EncodingPassword.empty() ? 1 : 0);
    for (const auto& [key, t] : found)
        st.set_number(d::kSection, d::instance_key(key.first, key.second), t);
    run_.state = std::move(st);
    run_.report.note(LOG_ALERT,
                     "%s is missing or damaged: rebuilt from the %d backups in the folder, "
                     "the newest B%lld_%lld",
                     run_.state_file_path.c_str(), static_cast<int>(found.size()),
                     static_cast<long long>(cycle), static_cast<long long>(sequence));
    std::string error;
    if (save_state(error)) return true;
    run_.report.note(LOG_COMPLAIN, "Can't save BACKUP.INI: %s", error.c_str());
    return false;
}

bool Backup::load_state() {
    std::string text;
    int err = 0;
    const char* state_path = run_.state_file_path.c_str();
    switch (run_.destination.read_file(destination::kStateFile, text, &err)) {
        case platform::ReadStatus::Read:
            run_.state.parse(text);
            break;
        case platform::ReadStatus::Missing:
            break;
        case platform::ReadStatus::NotRegular:
            // A FIFO would hang the run; a link could lead anywhere.
            if (err != EISDIR) {
                run_.report.note(LOG_COMPLAIN, "%s is not a regular file", state_path);
                return false;
            }
            [[fallthrough]];
        case platform::ReadStatus::Failed:
            // Taking an unreadable state for an empty one would start the
            // rotation again and delete the backups it records.
            run_.report.note(LOG_COMPLAIN, "Can't read %s: %s", state_path, system_error_text(err));
            return false;
    }
    run_.state.set_file_name(run_.state_file_path);
    return true;
}

bool Backup::load_parameters() {
    BackupSet& set = run_.set;
    if (set.BackupDestination.empty()) {
        run_.report.note(LOG_COMPLAIN, "Backup set '%s' has no destination specified",
                         set.Name.c_str());
        return false;
    }
    if (!setting_names::kSaveFormats.name(set.SaveFormat)) {
        run_.report.note(
            LOG_ERROR, "Backup set '%s': SaveFormat %d is not one of 0 (%s), 1 (%s), 2 (%s)",
            set.Name.c_str(), static_cast<int>(set.SaveFormat), setting_names::kSaveFormats.name(0),
            setting_names::kSaveFormats.name(1), setting_names::kSaveFormats.name(2));
        return false;
    }
    std::string dest = run_.destination_folder;
    if (dest.empty() || dest.back() != '/') dest.push_back('/');
    run_.destination_folder = dest;
    run_.state_file_path = dest + destination::kStateFile;
    // The destination itself is the owner's choice and may be reached
    // through a link; nothing inside it is.
    std::error_code ec;
    fs::create_directories(dest, ec);
    int err = 0;
    if (!run_.destination.open(dest, &err) || !run_.destination.stat(run_.destination_info, &err)) {
        run_.report.note(LOG_COMPLAIN, "Can't open %s: %s", dest.c_str(), system_error_text(err));
        return false;
    }
    if (!load_state()) return false;
    namespace d = destination;
    std::string stored = run_.state.get_text(d::kSection, d::kName);
    if (!stored.empty() && !iequals(stored, set.Name)) {
        run_.report.note(
            LOG_COMPLAIN,
            "BACKUP.INI contains wrong backup name (possible backup directory collision)");
        return false;
    }
    // A state without its numbers would start the rotation again over the
    // backups there: they are counted from the folder instead.
    if (!state_usable() && !rebuild_state()) return false;
    if (set.BackupsPerCycle < 1) set.BackupsPerCycle = 1;
    if (set.CyclesToSave < 1) set.CyclesToSave = 1;

    run_.sequence = run_.state.get_number(d::kSection, d::kSequence) + 1;
    run_.cycle = run_.state.get_number(d::kSection, d::kCycle);
    if (run_.cycle <= 0) run_.cycle = 1;  // a negative number is as good as none
    if (run_.sequence < 1) run_.sequence = 1;
    if (run_.sequence > set.BackupsPerCycle) {
        run_.sequence = 1;
        ++run_.cycle;
    }
    if (run_.cycle > set.CyclesToSave) {
        run_.cycle = 1;
        run_.sequence = 1;
    }
    run_.track_deleted = set.TrackDeletedFiles;
    if (run_.sequence != 1)
        run_.track_deleted = run_.state.get_number(d::kSection, d::kTrackDeleted) != 0;

    run_.start_time = now();
    run_.last_backup_time = run_.state.get_number(d::kSection, d::kLastBackupTime);
    run_.first_backup_time = run_.state.get_number(d::kSection, d::kFirstBackupTime);
    run_.activity = false;

    if (!record_unlisted_backups()) return false;
    if (!remove_instance_keys(run_.cycle, run_.sequence, set.BackupsPerCycle)) return false;
    for (int64_t k = run_.sequence; k <= set.BackupsPerCycle; ++k)
        if (!delete_output(run_.cycle, k)) return false;

    run_.encode = set.PasswordEncode && !run_.general.EncodingPassword.empty();
    if (set.PasswordEncode && !run_.encode)
        run_.report.note(LOG_ALERT,
                         "Encoding is on for this set but no encoding password is set: the backup "
                         "is not encoded");
    saver_ = std::make_unique<ContainerSaver>(run_, env_, output_name(run_.cycle, run_.sequence),
                                              services_.saf_archive_file, services_.workers);
    return saver_->open();
}

void Backup::walk_everything() {
    Scanner scanner(run_, *saver_, env_);
    if (run_.track_deleted) scanner.load_list_files();
    std::vector<std::string> lines = setting_lines(run_.set.BackupDirs);
    // "/data/../etc" names "/etc": a copy's place must never climb out of
    // its backup folder.
    for (std::string& line : lines) {
        line = fs::path(absolute_path(line)).lexically_normal().string();
        if (line.size() > 1 && line.back() == '/') line.pop_back();
    }
    // The roots, so a retried file finds the root it was first walked under.
    for (const std::string& line : lines) {
        platform::FileInfo fi;
        if (env_.stat_following(line, fi) && !fi.is_directory()) {
            saver_->add_file_root(line);
            continue;
        }
        std::string root = line;
        if (root.empty() || root.back() != '/') root.push_back('/');
        saver_->add_root(root);
    }
    for (const std::string& line : lines) {
        platform::FileInfo fi;
        if (!env_.stat_following(line, fi))
            throw MyError(NOT_FOUND, strprintf("Couldn't find path %s", line.c_str()));
        std::string root = fi.is_directory() ? line : std::string(folder_part(line));
        if (root.empty() || root.back() != '/') root.push_back('/');
        run_.current_root = root;
        scanner.backup_this_path(line);
    }
    // An abort caught around the last file's save stops no walk: it must
    // still end the run as aborted.
    checkpoint();
    if (!run_.report.retry_list.empty()) {
        MyString retry = run_.report.retry_list;
        run_.report.retry_list.assign("");
        size_t n = retry.count_lines();
        for (size_t i = 1; i <= n; ++i) {
            std::string p = retry.line(i);
            run_.current_root = saver_->root_of(p);
            scanner.backup_this_path(p);
        }
        checkpoint();
    }
    run_.report.settle_retries();
    if (!run_.report.given_up.empty()) {
        run_.report.add_line("The following files could not be backed up:");
        size_t m = run_.report.given_up.count_lines();
        for (size_t i = 1; i <= m; ++i) run_.report.add_line(run_.report.given_up.line(i));
        run_.report.add_line("");
    }
    if (run_.track_deleted) scanner.write_list_file();
}

void Backup::checkpoint() {
    run_.flags.wait_while_paused(env_);
    run_.flags.check_abort();
}

void Backup::finish() {
    if (!run_.activity) {
        saver_->discard();
        delete_output(run_.cycle, run_.sequence);
        return;
    }
    // The container is whole on disk before the state records it.
    std::string error;
    if (!saver_->close(error)) throw MyError(OPERATION_FAILED, error);
    IniDocument& st = run_.state;
    const BackupSet& set = run_.set;
    namespace d = destination;
    st.set_text(d::kSection, d::kName, set.Name);
    st.set_number(d::kSection, d::kCycles, set.CyclesToSave);
    st.set_number(d::kSection, d::kBackupsPerCycle, set.BackupsPerCycle);
    st.set_number(d::kSection, d::kSaveFormat, set.SaveFormat);
    st.set_number(d::kSection, d::kSequence, run_.sequence);
    st.set_number(d::kSection, d::kCycle, run_.cycle);
    st.set_number(d::kSection, d::kLastBackupTime, run_.start_time);
    if (run_.sequence == 1) st.set_number(d::kSection, d::kFirstBackupTime, run_.start_time);
    st.set_number(d::kSection, d::kTrackDeleted, run_.track_deleted ? 1 : 0);
    // What the run did, not what was asked: with no password nothing is
    // encoded, and a restore must not decode plain data.
    st.set_number(d::kSection, d::kEncode, run_.encode ? 1 : 0);
    st.set_number(d::kSection, d::instance_key(run_.cycle, run_.sequence), run_.start_time);
    // ZIP and discrete backups carry no check of their own: without this a
    // wrong password would restore garbage over the user's files.
    if (run_.encode)
        st.set_number(d::kSection, d::check_value_key(run_.cycle, run_.sequence),
                      PasswordStream::make_check_value(run_.general.EncodingPassword));
    // A backup that "BACKUP.INI" does not record cannot be restored: the run
    // fails rather than report success.
    if (!save_state(error)) throw MyError(OPERATION_FAILED, "Can't save BACKUP.INI: " + error);
}

void Backup::add_closing_lines() {
    if (size_t n = run_.report.not_saved_count())
        run_.report.add_line(strprintf("%d files could not be saved", static_cast<int>(n)));
    // Dotfiles hold a user's settings on Linux: leaving them out is said.
    if (uint64_t h = run_.counters.hidden_left_out)
        run_.report.add_line(
            strprintf("%d hidden files and folders were left out (IncludeHiddenFiles is off)",
                      static_cast<int>(h)));
}

std::string Backup::completed_warning() const {
    if (run_.report.result != kResultCompleted || run_.report.not_saved_count() == 0) return {};
    return strprintf("Backup '%s' completed, but %d files could not be saved",
                     run_.set.Name.c_str(), static_cast<int>(run_.report.not_saved_count()));
}

void Backup::mail_report(int64_t started) {
    const GeneralSettings& g = run_.general;
    if (run_.flags.aborting() || !g.SendEmailOnCompletion || g.CompletionEmail.empty()) return;
    run_.report.add_line(" ");
    run_.report.add_line(strprintf("Duration: %d seconds", static_cast<int>(now() - started)));
    run_.report.add_line(strprintf("%d files scanned, %d saved",
                                   static_cast<int>(run_.counters.files_scanned),
                                   static_cast<int>(run_.counters.files_saved)));
    if (!services_.mail) return;
    std::string error;
    if (!services_.mail(g.CompletionEmail, strprintf("Backup '%s'", run_.set.Name.c_str()),
                        run_.report.str(), g, error))
        log(LOG_ERROR, "Sendmail failed: %s\n", error.c_str());
}

int Backup::run() {
    const std::string& name = run_.set.Name;
    run_.flags.wait_while_paused(env_);
    int64_t started = now();

    int prio = run_.set.BackupThreadPriority;
    if (prio != 0) {
        if (!platform::valid_thread_priority(prio)) {
            log(LOG_COMPLAIN, "Invalid thread priority request\n");
            prio = 0;
        }
        if (!platform::set_current_thread_priority(prio))
            log(LOG_ERROR, "SetThreadPriority failed: %s\n", system_error_text());
    }

    std::optional<SetLock> lock;
    if (run_.flags.aborting()) {
        run_.report.note(LOG_ALERT, "Backup '%s' aborted by user request", name.c_str());
        run_.report.result = kResultAborted;
    } else if (!(lock = SetLock::acquire(name))) {
        run_.report.fail(LOG_ALERT, "Backup '%s' locked by another program", name.c_str());
    } else {
        ShareLogonResult logon =
            services_.share_logon->log_on_if_necessary(run_.set.BackupDestination, run_.general);
        const char* dest = run_.set.BackupDestination.c_str();
        if (!logon.reachable) {
            log(LOG_ALERT, "Can't connect to network drive '%s' -- Error %d: %s\n", dest,
                logon.error_number, logon.error_text.c_str());
            run_.report.failure_text = strprintf("Can't connect to network drive '%s' -- %s\n",
                                                 dest, logon.error_text.c_str());
            run_.report.add_line(run_.report.failure_text);
            run_.report.result = kResultFailed;
        } else {
            run_.destination_folder = logon.folder;
            if (!load_parameters()) {
                run_.report.note(LOG_ALERT, "Backup '%s': LoadParameters failed", name.c_str());
                run_.report.failure_text = run_.report.str();
                run_.report.result = kResultFailed;
                if (saver_) saver_->discard();
            } else {
                log(LOG_PROGRESS, "Start backup set '%s'\n", name.c_str());
                execute("ExecuteBeforeStart", run_.set.ExecuteBeforeStart);
                try {
                    // The walk's trace lines (one or more per file) reach
                    // the log file a block at a time.
                    struct Batch {
                        Batch() { Logger::instance().batch(true); }
                        ~Batch() { Logger::instance().batch(false); }
                    } batch;
                    walk_everything();
                    finish();
                    if (run_.activity) {
                        execute("ExecuteOnSuccess", run_.set.ExecuteOnSuccess);
                        run_.report.add_line(
                            strprintf("Backup Completed %s", now_text(env_).c_str()));
                    } else {
                        log(LOG_INFO, "No activity. Backup '%s' not done\n", name.c_str());
                        run_.report.add_line("No activity. Backup not done");
                    }
                    add_closing_lines();
                } catch (const MyError& e) {
                    if (e.code() == 0) {
                        run_.report.fail(LOG_ALERT, "%s", e.message());
                    } else if (e.code() == RUN_ABORTED) {
                        run_.report.note(LOG_ALERT, "Backup aborted by user request");
                        run_.report.result = kResultAborted;
                    } else {
                        run_.report.fail(LOG_ALERT, "Backup aborted due to internal error (%s)",
                                         e.message());
                    }
                    execute("ExecuteOnFailure", run_.set.ExecuteOnFailure);
                    saver_->discard();
                    delete_output(run_.cycle, run_.sequence);
                }
            }
        }
    }
    mail_report(started);
    return run_.report.result;
}

}  // namespace vardel
