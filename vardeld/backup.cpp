#include "vardeld/backup.h"

#include <cerrno>
#include <filesystem>

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

void Backup::delete_output(int64_t cycle, int64_t sequence) {
    const std::string& dest = run_.destination_folder;
    std::error_code ec;
    switch (run_.set.SaveFormat) {
        case SAVE_SAF:
            fs::remove(dest + destination::saf_archive(cycle, sequence), ec);
            break;
        case SAVE_ZIP:
            fs::remove(dest + destination::zip_archive(cycle, sequence), ec);
            break;
        case SAVE_DISCRETE:
            fs::remove_all(dest + destination::files_folder(cycle, sequence), ec);
            break;
        default:
            break;
    }
    fs::remove(dest + destination::list_file(cycle, sequence), ec);
}

void Backup::remove_instance_keys(int64_t cycle, int64_t from, int64_t to) {
    // The backups of a reused slot are gone: their records go too, so the
    // restore tool and the editor never list backups that no longer exist.
    bool changed = false;
    for (int64_t k = from; k <= to; ++k) {
        changed |= run_.state.remove(destination::kSection, destination::instance_key(cycle, k));
        changed |= run_.state.remove(destination::kSection, destination::check_value_key(cycle, k));
    }
    std::string error;
    if (changed && !run_.state.save(&error)) log(LOG_ERROR, "%s\n", error.c_str());
}

bool Backup::load_parameters() {
    BackupSet& set = run_.set;
    if (set.BackupDestination.empty()) {
        run_.report.note(LOG_COMPLAIN, "Backup set '%s' has no destination specified",
                         set.Name.c_str());
        return false;
    }
    std::string dest = run_.destination_folder;
    if (dest.empty() || dest.back() != '/') dest.push_back('/');
    run_.destination_folder = dest;
    run_.state_file_path = dest + destination::kStateFile;
    // Only a missing state is an empty one: taking an unreadable one for
    // empty would start the rotation again and delete the backups it records.
    int load_error = 0;
    if (!run_.state.load(run_.state_file_path, &load_error) && load_error != ENOENT) {
        const char* why = system_error_text(load_error);
        run_.report.note(LOG_COMPLAIN, "Can't read %s: %s", run_.state_file_path.c_str(), why);
        return false;
    }
    run_.state.set_file_name(run_.state_file_path);
    namespace d = destination;
    std::string stored = run_.state.get_text(d::kSection, d::kName);
    if (!stored.empty() && !iequals(stored, set.Name)) {
        run_.report.note(
            LOG_COMPLAIN,
            "BACKUP.INI contains wrong backup name (possible backup directory collision)");
        return false;
    }
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

    // Every format keeps a list file: the SAF format's deleted-file tracking
    // needs one as much as the others.
    run_.list_file_path = dest + d::list_file(run_.cycle, run_.sequence);
    switch (set.SaveFormat) {
        case SAVE_SAF:
            run_.archive_path = dest + d::saf_archive(run_.cycle, run_.sequence);
            run_.files_folder = dest;
            break;
        case SAVE_ZIP:
            run_.archive_path = dest + d::zip_archive(run_.cycle, run_.sequence);
            run_.files_folder = dest;
            break;
        case SAVE_DISCRETE:
            run_.files_folder = dest + d::files_folder(run_.cycle, run_.sequence) + "/";
            break;
        default:
            VARDEL_UNEXPECTED_SWITCH();
            return false;
    }
    run_.start_time = now();
    run_.last_backup_time = run_.state.get_number(d::kSection, d::kLastBackupTime);
    run_.first_backup_time = run_.state.get_number(d::kSection, d::kFirstBackupTime);
    run_.activity = false;

    for (int64_t k = run_.sequence; k <= set.BackupsPerCycle; ++k) delete_output(run_.cycle, k);
    remove_instance_keys(run_.cycle, run_.sequence, set.BackupsPerCycle);
    // A failure here shows as the container's own: an archive that cannot
    // be created, or a copy folder that cannot be made.
    std::error_code ec;
    fs::create_directories(dest, ec);

    run_.encode = set.PasswordEncode && !run_.general.EncodingPassword.empty();
    saver_ = std::make_unique<ContainerSaver>(run_, env_, services_.saf_archive_file);
    return saver_->open();
}

void Backup::walk_everything() {
    Scanner scanner(run_, *saver_, env_);
    if (run_.track_deleted) scanner.load_list_files();
    std::vector<std::string> lines = setting_lines(run_.set.BackupDirs);
    for (std::string& line : lines) line = absolute_path(line);
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
        if (!env_.stat_following(line, fi)) throw MyError(NOT_FOUND, "Couldn't find path");
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
    if (!run_.report.retry_list.empty() || !run_.report.given_up.empty()) {
        run_.report.add_line("The following files could not be backed up:");
        for (MyString* list : {&run_.report.given_up, &run_.report.retry_list}) {
            size_t m = list->count_lines();
            for (size_t i = 1; i <= m; ++i) run_.report.add_line(list->line(i));
        }
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
    if (!st.save(&error)) throw MyError(OPERATION_FAILED, "Can't save BACKUP.INI: " + error);
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
