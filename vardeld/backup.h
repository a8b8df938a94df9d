#pragma once
// Module backup: the run of one backup set, start to finish, on the backup
// thread: the set lock, the destination, "BACKUP.INI" with the cycle and
// sequence numbers and the clearing of the slot to fill, the container, the
// hook commands, the walk of every BackupDirs entry and the second pass, the
// list file, the new state, the report and the completion mail.
//
// One object per run; run() is called once, on the thread that does the work.
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "common/backup_set.h"
#include "common/general_settings.h"
#include "platform/env.h"
#include "vardeld/backup_run.h"
#include "vardeld/run_flags.h"
#include "vardeld/share_logon.h"

namespace vardel {

class ContainerSaver;
class SafArchiveFile;

// What a run needs from the rest of the service.
struct BackupServices {
    // Mails `body` with `subject` to `to` through the settings' SMTPHost and
    // FromEmail; false with the mailer's error text.
    std::function<bool(const std::string& to, const std::string& subject, const std::string& body,
                       const GeneralSettings& settings, std::string& error)>
        mail;
    ShareLogon* share_logon = nullptr;  // null: a plain ShareLogon
    // Makes the file the SAF archive is written to; empty: the real file.
    // Tests hand in one that fails like a full disk or watches the writer.
    std::function<std::unique_ptr<SafArchiveFile>()> saf_archive_file;
    // Threads that read and compress ahead of the archive's writing; 1: all
    // on the backup thread, 0: one per processor. The backup is the same
    // whatever the number.
    unsigned workers = 0;
};

class Backup {
  public:
    Backup(const BackupSet& set, const GeneralSettings& general, RunFlags& flags,
           BackupServices services = {}, const platform::Env& env = platform::Env::real());
    ~Backup();
    Backup(const Backup&) = delete;
    Backup& operator=(const Backup&) = delete;

    // Runs the backup; returns the result: 5 completed, 3 failed, 4 aborted.
    int run();

    const std::string& failure_text() const { return run_.report.failure_text; }
    const RunReport& report() const { return run_.report; }
    // For a run that completed without saving every file it selected: the
    // warning that says so ("Backup '%s' completed, but %d files could not
    // be saved"); empty otherwise.
    std::string completed_warning() const;
    const BackupRun& state() const { return run_; }

  private:
    bool load_parameters();
    // Reads "BACKUP.INI" through the destination; false (reported) when it
    // is there but cannot be used.
    bool load_state();
    // True when the state holds the numbers every run writes.
    bool state_usable() const;
    // The backups in the destination by their names: (cycle, sequence) and
    // the latest time of their files; with `listed`, those with a list file.
    bool backups_in_folder(std::map<std::pair<int64_t, int64_t>, int64_t>& found,
                           std::set<std::pair<int64_t, int64_t>>* listed);
    // Names in the state every backup in the folder it does not name, but
    // for the slots about to be cleared.
    bool record_unlisted_backups();
    // Rebuilds the state from the backups in the destination (their names
    // and times) and saves it; an empty state when there are none.
    bool rebuild_state();
    bool save_state(std::string& error);
    void walk_everything();
    // Waits out a pause, then throws MyError 23 when the run is being aborted.
    void checkpoint();
    void finish();
    void execute(const char* setting, const std::string& command);
    // The backup's own output in the destination: "B%d_%d.SAF", ".ZIP" or
    // the folder "B%d_%d".
    std::string output_name(int64_t cycle, int64_t sequence) const;
    bool delete_output(int64_t cycle, int64_t sequence);
    bool remove_instance_keys(int64_t cycle, int64_t from, int64_t to);
    void add_closing_lines();
    void mail_report(int64_t started);
    int64_t now() const;

    BackupRun run_;
    BackupServices services_;
    const platform::Env& env_;
    ShareLogon default_logon_;
    std::unique_ptr<ContainerSaver> saver_;
};

}  // namespace vardel
