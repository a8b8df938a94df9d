#include "vardeld/backup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "common/ini_document.h"
#include "common/set_lock.h"
#include "common/setting_names.h"
#include "containers/saf_reader.h"
#include "platform/archive_attribute.h"
#include "platform/file_info.h"
#include "tests/support/child_process.h"
#include "tests/support/fault_env.h"
#include "tests/support/log_capture.h"
#include "tests/support/scratch.h"
#include "tests/vardeld/saving_support.h"
#include "vardeld/service_messages.h"

#include "tests/support/set_clock.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;

using test::SetClock;

class BackupTest : public test::ScratchTest {
  protected:
    void SetUp() override {
        ScratchTest::SetUp();
        src = path("src");
        dest = path("dest");
        fs::create_directories(src);
        set.Name = "Nightly";
        set.BackupDestination = dest;
        set.BackupDirs = src;
        set.BackuDestinationType = DESTINATION_DIRECTORY;
    }

    int run_backup(const platform::Env* env = nullptr) {
        flags.clear();
        BackupServices services;
        services.mail = [this](const std::string& to, const std::string& subject,
                               const std::string& body, const GeneralSettings&, std::string&) {
            mails.push_back(to + "|" + subject + "|" + body);
            return true;
        };
        Backup backup(set, general, flags, services, env ? *env : clock);
        int result = backup.run();
        report = backup.report().str();
        failure = backup.failure_text();
        return result;
    }

    // A file with a given modification time (seconds since 1970).
    std::string file(const std::string& rel, const std::string& content, int64_t mtime = 0) {
        std::string p = write_file("src/" + rel, content);
        if (mtime) {
            uint64_t ft = platform::filetime_from_unix(mtime, 0);
            platform::set_file_times(p, ft, ft);
        }
        return p;
    }

    IniDocument state() {
        IniDocument d;
        d.load(dest + "/BACKUP.INI");
        return d;
    }
    bool exists(const std::string& rel) { return fs::exists(dest + "/" + rel); }
    std::string list(const std::string& name) { return read_file(dest + "/" + name); }

    std::string src, dest;
    BackupSet set;
    GeneralSettings general;
    RunFlags flags;
    SetClock clock{1800000000};
    std::string report, failure;
    std::vector<std::string> mails;
    test::LogCapture logs;
};

TEST_F(BackupTest, FiveRunsRotateThroughTwoCyclesOfTwo) {
    set.BackupsPerCycle = 2;
    set.CyclesToSave = 2;
    file("a.txt", "a");
    std::vector<std::string> used;
    for (int i = 0; i < 5; ++i) {
        clock.t += 3600;
        ASSERT_EQ(run_backup(), kResultCompleted) << report;
        IniDocument st = state();
        used.push_back(st.get_text("BACKUPSET", "CYCLE") + "," +
                       st.get_text("BACKUPSET", "SEQUENCE"));
        if (i == 3) {
            EXPECT_TRUE(exists("B1_1.SAF"));
            EXPECT_TRUE(exists("B1_2.SAF"));
        }
    }
    EXPECT_EQ(used, (std::vector<std::string>{"1,1", "1,2", "2,1", "2,2", "1,1"}));
    // The fifth run cleared cycle 1 before it wrote B1_1 again, keys with it.
    EXPECT_TRUE(exists("B1_1.SAF"));
    EXPECT_FALSE(exists("B1_2.SAF"));
    IniDocument st = state();
    EXPECT_EQ(st.get_text("BACKUPSET", "BACKUPINSTANCE_1_2"), "");
    EXPECT_EQ(st.get_number("BACKUPSET", "BACKUPINSTANCE_1_1"), clock.t);
    EXPECT_EQ(st.get_number("BACKUPSET", "BACKUPINSTANCE_2_2"), clock.t - 3600);
    EXPECT_EQ(st.get_number("BACKUPSET", "FIRSTBACKUPTIME"), clock.t);
    // Archives hold every account's files, and the state names them: only
    // their owner reads them.
    for (const char* n : {"B1_1.SAF", "BACKUP.INI"})
        EXPECT_EQ(fs::status(dest + "/" + n).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write)
            << n;
}

TEST_F(BackupTest, ARunWithoutActivityChangesNothingAndReusesItsNumbers) {
    set.BackupType = BACKUP_INCREMENTAL;
    set.BackupsPerCycle = 3;
    file("a.txt", "a", clock.t - 100);
    ASSERT_EQ(run_backup(), kResultCompleted);
    std::string before = read_file(dest + "/BACKUP.INI");
    clock.t += 3600;
    ASSERT_EQ(run_backup(), kResultCompleted);
    EXPECT_NE(report.find("No activity. Backup not done"), std::string::npos);
    EXPECT_TRUE(logs.has("No activity. Backup 'Nightly' not done"));
    EXPECT_EQ(read_file(dest + "/BACKUP.INI"), before);
    EXPECT_FALSE(exists("B1_2.SAF"));
    // Something changed: the same numbers are used.
    file("b.txt", "new", clock.t + 10);
    clock.t += 3600;
    ASSERT_EQ(run_backup(), kResultCompleted);
    EXPECT_TRUE(exists("B1_2.SAF"));
    EXPECT_EQ(state().get_number("BACKUPSET", "SEQUENCE"), 2);
}

TEST_F(BackupTest, IncrementalAndDifferentialCompareWithTheRightBackup) {
    set.BackupsPerCycle = 5;
    int64_t t0 = clock.t;
    file("old.txt", "o", t0 - 1000);
    set.BackupType = BACKUP_INCREMENTAL;
    ASSERT_EQ(run_backup(), kResultCompleted);  // the first of a cycle takes everything
    EXPECT_TRUE(logs.has("Save " + src + "/old.txt"));

    clock.t = t0 + 100;
    file("mid.txt", "m", t0 + 50);
    file("at.txt", "exactly at the last backup", t0);
    ASSERT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(logs.occurrences("Save " + src + "/old.txt"), 1);
    EXPECT_EQ(logs.occurrences("Save " + src + "/mid.txt"), 1);
    EXPECT_EQ(logs.occurrences("Save " + src + "/at.txt"), 1);  // "at or after"

    // Differential: backup 3 compares with the cycle's first, so mid.txt again.
    set.BackupType = BACKUP_DIFFERENTIAL;
    clock.t = t0 + 200;
    ASSERT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(logs.occurrences("Save " + src + "/mid.txt"), 2);
    EXPECT_EQ(logs.occurrences("Save " + src + "/old.txt"), 1);
}

TEST_F(BackupTest, TrackingListsNewAndVanishedFilesAcrossACycle) {
    set.BackupType = BACKUP_INCREMENTAL;
    set.BackupsPerCycle = 5;
    set.TrackDeletedFiles = true;
    set.SaveFormat = SAVE_ZIP;
    file("keep.txt", "k", clock.t - 500);
    file("sub/one.txt", "1", clock.t - 500);
    file("sub/two.txt", "2", clock.t - 500);
    ASSERT_EQ(run_backup(), kResultCompleted);
    std::string l1 = list("L1_1.TXT");
    EXPECT_NE(l1.find("A " + src + "/\r\nB keep.txt\r\n"), std::string::npos) << l1;
    EXPECT_NE(l1.find("A " + src + "/sub/\r\n"), std::string::npos) << l1;

    // Copied in with an old time: no list names it, so it is new.
    clock.t += 3600;
    file("copied.txt", "c", clock.t - 100000);
    ASSERT_EQ(run_backup(), kResultCompleted);
    EXPECT_TRUE(logs.has("Save " + src + "/copied.txt"));
    EXPECT_EQ(list("L1_2.TXT"), "A " + src + "/\r\nB copied.txt\r\n");

    // A folder vanishes: a C line, then a D line for each of its files; a
    // backup that only lost files still completes.
    fs::remove_all(src + "/sub");
    clock.t += 3600;
    ASSERT_EQ(run_backup(), kResultCompleted);
    // The D lines come in the order the first list named the files.
    std::string l3 = list("L1_3.TXT");
    EXPECT_EQ(l3.rfind("C " + src + "/sub/\r\n", 0), 0u) << l3;
    EXPECT_NE(l3.find("D one.txt\r\n"), std::string::npos);
    EXPECT_NE(l3.find("D two.txt\r\n"), std::string::npos);
    EXPECT_EQ(l3.size(), ("C " + src + "/sub/\r\nD one.txt\r\nD two.txt\r\n").size());
    EXPECT_EQ(state().get_number("BACKUPSET", "SEQUENCE"), 3);

    // Loading that list removed the folder and nothing else: nothing to do now.
    clock.t += 3600;
    ASSERT_EQ(run_backup(), kResultCompleted);
    EXPECT_NE(report.find("No activity"), std::string::npos) << report;
    EXPECT_FALSE(exists("L1_4.TXT"));
}

TEST_F(BackupTest, HiddenFoldersMasksAndExcludedFoldersAreLeftOut) {
    file("a.txt", "a");
    file("b.doc", "b");
    file("a.b.txt", "dots");
    file(".hidden/x.txt", "x");
    file(".dotfile.txt", "d");
    file("tmp/t.txt", "t");
    file("cache/c.txt", "c");
    set.IncludeMasks = "*.txt";
    set.ExcludeMasks = "a.*";
    set.ExcludeFiles = src + "/tmp\r\n" + src + "/cache/\r\n" + src + "/a.txt";
    ASSERT_EQ(run_backup(), kResultCompleted);
    EXPECT_FALSE(logs.has("Save " + src + "/a.b.txt"));  // excluded by a.*
    EXPECT_FALSE(logs.has("Save " + src + "/b.doc"));
    EXPECT_FALSE(logs.has(".hidden"));
    EXPECT_FALSE(logs.has("Save " + src + "/.dotfile.txt"));
    EXPECT_FALSE(logs.has("/tmp/t.txt"));
    EXPECT_FALSE(logs.has("/cache/c.txt"));
    EXPECT_FALSE(logs.has("Save " + src + "/a.txt"));  // the mask, not the file path

    set.IncludeHiddenFiles = true;
    set.IncludeMasks = "";
    set.ExcludeMasks = "";
    set.ExcludeFiles = src + "/a.txt";  // a file path excludes nothing
    clock.t += 3600;
    ASSERT_EQ(run_backup(), kResultCompleted);
    EXPECT_TRUE(logs.has("Save " + src + "/.hidden/x.txt"));
    EXPECT_TRUE(logs.has("Save " + src + "/a.txt"));
}

TEST_F(BackupTest, NamesThatDifferOnlyInCaseAreTwoFiles) {
    set.TrackDeletedFiles = true;
    file("Report.txt", "upper");
    file("report.txt", "lower");
    ASSERT_EQ(run_backup(), kResultCompleted);
    EXPECT_TRUE(logs.has("Save " + src + "/Report.txt"));
    EXPECT_TRUE(logs.has("Save " + src + "/report.txt"));
    std::string l = list("L1_1.TXT");
    EXPECT_NE(l.find("B Report.txt\r\n"), std::string::npos);
    EXPECT_NE(l.find("B report.txt\r\n"), std::string::npos);
    SafReader r;
    r.open(dest + "/B1_1.SAF");
    ASSERT_EQ(r.entry_count(), 3u);  // two files and the trailer
    EXPECT_NE(r.entry(0).name, r.entry(1).name);
}

TEST_F(BackupTest, LinksAreNotFollowedAndFifosNeverBlock) {
    file("a/real.txt", "r");
    ASSERT_EQ(::symlink("..", (src + "/a/up").c_str()), 0);
    ASSERT_EQ(::mkfifo((src + "/pipe").c_str(), 0644), 0);
    set.IncludeSystemFiles = true;  // links and FIFOs are "system" entries
    ASSERT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(logs.occurrences("Save " + src + "/a/real.txt"), 1);
    EXPECT_FALSE(logs.has("/a/up/"));
    EXPECT_FALSE(logs.has("Save " + src + "/pipe"));
}

TEST_F(BackupTest, AMissingFolderFailsTheRun) {
    file("a.txt", "a");
    set.BackupDirs = src + "\r\n" + path("nowhere");
    set.ExecuteOnFailure = "touch '" + path("failed.mark") + "'";
    EXPECT_EQ(run_backup(), kResultFailed);
    EXPECT_EQ(failure,
              "Backup aborted due to internal error (Couldn't find path " + path("nowhere") + ")");
    EXPECT_TRUE(fs::exists(path("failed.mark")));
    EXPECT_FALSE(exists("B1_1.SAF"));
    EXPECT_FALSE(exists("BACKUP.INI"));
}

TEST_F(BackupTest, AStopDuringTheWalkAbortsRunsTheFailureCommandAndSendsNoMail) {
    for (int i = 0; i < 20; ++i) file("f" + std::to_string(i) + ".txt", "data");
    set.ExecuteOnFailure = "touch '" + path("failed.mark") + "'";
    general.SendEmailOnCompletion = true;
    general.CompletionEmail = "ops@example.org";
    logs.on_line = [this](int, const std::string& text) {
        if (text.rfind("Save ", 0) == 0) flags.abort();
    };
    EXPECT_EQ(run_backup(), kResultAborted);
    logs.on_line = nullptr;
    EXPECT_TRUE(logs.has("Backup aborted by user request"));
    EXPECT_TRUE(fs::exists(path("failed.mark")));
    EXPECT_FALSE(exists("B1_1.SAF"));
    EXPECT_TRUE(mails.empty());
}

TEST_F(BackupTest, TheCompletionMailCarriesTheReport) {
    file("a.txt", "a");
    file("b.txt", "b");
    general.SendEmailOnCompletion = true;
    general.CompletionEmail = "ops@example.org";
    ASSERT_EQ(run_backup(), kResultCompleted);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].substr(0, mails[0].find('|', 16) + 1), "ops@example.org|Backup 'Nightly'|");
    EXPECT_NE(mails[0].find("Backup Completed "), std::string::npos);
    EXPECT_NE(mails[0].find("Duration: 0 seconds"), std::string::npos);
    EXPECT_NE(mails[0].find("2 files scanned, 2 saved"), std::string::npos);

    set.BackupDestination = "";
    EXPECT_EQ(run_backup(), kResultFailed);
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_NE(mails[1].find("Backup set 'Nightly' has no destination specified"),
              std::string::npos);
}

TEST_F(BackupTest, ACollidingStateFileFailsAndStaysAsItWas) {
    file("a.txt", "a");
    write_file("dest/BACKUP.INI", "\r\n[BACKUPSET]\r\nNAME=Other\r\nSEQUENCE=1\r\n");
    EXPECT_EQ(run_backup(), kResultFailed);
    EXPECT_NE(
        report.find("BACKUP.INI contains wrong backup name (possible backup directory collision)"),
        std::string::npos);
    EXPECT_NE(failure.find("Backup 'Nightly': LoadParameters failed"), std::string::npos);
    EXPECT_EQ(read_file(dest + "/BACKUP.INI"), "\r\n[BACKUPSET]\r\nNAME=Other\r\nSEQUENCE=1\r\n");
    EXPECT_FALSE(exists("B1_1.SAF"));
}

TEST_F(BackupTest, ASetLockedByAnotherProgramFails) {
    file("a.txt", "a");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    test::BackgroundProcess holder([&] {
        std::optional<SetLock> lock = SetLock::acquire("nightly");  // names compare without case
        char c = lock ? 'y' : 'n';
        if (write(ready[1], &c, 1) != 1) return 1;
        pause();
        return 0;
    });
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    EXPECT_EQ(run_backup(), kResultFailed);
    EXPECT_EQ(failure, "Backup 'Nightly' locked by another program");
    holder.signal(SIGKILL);
    holder.wait();
    EXPECT_EQ(run_backup(), kResultCompleted);  // the dead holder's lock is free
}

TEST_F(BackupTest, AnUnreachableShareFailsTheRunWithTheMountsReason) {
    // The mount itself is tested with the share logon; here only what the
    // run makes of a refusal.
    struct Refusing : ShareLogon {
        ShareLogonResult log_on_if_necessary(const std::string& d,
                                             const GeneralSettings&) override {
            ShareLogonResult r;
            r.reachable = false;
            r.error_number = 13;
            r.error_text = "Permission denied";
            r.folder = d;
            return r;
        }
    } refusing;
    set.BackupDestination = "//server/share/backups";
    BackupServices services;
    services.share_logon = &refusing;
    Backup backup(set, general, flags, services, clock);
    EXPECT_EQ(backup.run(), kResultFailed);
    EXPECT_TRUE(logs.has(
        "Can't connect to network drive '//server/share/backups' -- Error 13: Permission denied"));
    EXPECT_EQ(backup.failure_text(),
              "Can't connect to network drive '//server/share/backups' -- Permission denied\n");
}

TEST_F(BackupTest, HookCommandsAndPriorityRequestsAreLoggedAndTheRunGoesOn) {
    file("a.txt", "a");
    set.ExecuteBeforeStart = "exit 1";
    set.ExecuteOnSuccess = "touch '" + path("ok.mark") + "'";
    set.BackupThreadPriority = 5;
    ASSERT_EQ(run_backup(), kResultCompleted);
    EXPECT_TRUE(logs.has("ALERT     ExecuteBeforeStart: exit 1 : returned 1\r\n"));
    EXPECT_TRUE(logs.has("COMPLAIN  Invalid thread priority request\r\n"));
    EXPECT_TRUE(fs::exists(path("ok.mark")));
    EXPECT_TRUE(logs.has("DEBUG     ExecuteOnSuccess: touch"));
}

TEST_F(BackupTest, AFailureToRecordTheBackupIsAFailureNotASuccess) {
    file("a.txt", "a");
    // "BACKUP.INI" cannot be replaced when a folder stands in its place;
    // put there after it was read, as one standing there from the start
    // fails the run before anything is saved.
    logs.on_line = [this](int, const std::string& text) {
        if (text.rfind("Save ", 0) == 0) fs::create_directories(dest + "/BACKUP.INI");
    };
    EXPECT_EQ(run_backup(), kResultFailed);
    logs.on_line = nullptr;
    EXPECT_NE(failure.find("Can't save BACKUP.INI"), std::string::npos) << failure;
    EXPECT_FALSE(exists("B1_1.SAF"));  // no archive that no state records
}

// Only a missing "BACKUP.INI" is an empty state: one that cannot be read
// must not start the rotation again and delete the backups it records.
TEST_F(BackupTest, AStateFileThatCannotBeReadFailsTheRunAndDeletesNothing) {
    set.BackupsPerCycle = 3;
    file("a.txt", "a");
    ASSERT_EQ(run_backup(), kResultCompleted);
    clock.t += 3600;
    ASSERT_EQ(run_backup(), kResultCompleted);
    std::string ini = dest + "/BACKUP.INI";
    std::string saved_state = read_file(ini);
    fs::rename(ini, dest + "/BACKUP.INI.away");
    fs::create_directories(ini);
    set.ExecuteOnFailure = "touch '" + path("failed.mark") + "'";
    clock.t += 3600;
    EXPECT_EQ(run_backup(), kResultFailed);
    EXPECT_NE(report.find("Can't read " + ini + ": Is a directory\r\n"), std::string::npos)
        << report;
    EXPECT_NE(failure.find("Backup 'Nightly': LoadParameters failed"), std::string::npos)
        << failure;
    EXPECT_TRUE(logs.has("Can't read " + ini + ": Is a directory"));
    EXPECT_TRUE(exists("B1_1.SAF"));
    EXPECT_TRUE(exists("B1_2.SAF"));
    EXPECT_TRUE(fs::is_directory(ini));

    // Readable again: the rotation goes on where it stood.
    fs::remove(ini);
    fs::rename(dest + "/BACKUP.INI.away", ini);
    EXPECT_EQ(read_file(ini), saved_state);
    clock.t += 3600;
    ASSERT_EQ(run_backup(), kResultCompleted) << report;
    EXPECT_EQ(state().get_number("BACKUPSET", "SEQUENCE"), 3);
    EXPECT_TRUE(exists("B1_1.SAF"));
    EXPECT_NE(state().get_text("BACKUPSET", "BACKUPINSTANCE_1_1"), "");
}

// An abort caught around a ZIP add fails only that file; when it was the
// last one no later entry stops the walk, and the run must still abort.
TEST_F(BackupTest, AnAbortDuringTheLastZipAddEndsTheRunAsAborted) {
    file("only.txt", "the one file");
    set.SaveFormat = SAVE_ZIP;
    set.ExecuteOnFailure = "touch '" + path("failed.mark") + "'";
    general.SendEmailOnCompletion = true;
    general.CompletionEmail = "ops@example.org";
    logs.on_line = [this](int, const std::string& text) {
        if (text == "ZipAdd " + src + "/only.txt\n") flags.abort();
    };
    EXPECT_EQ(run_backup(), kResultAborted) << report;
    logs.on_line = nullptr;
    EXPECT_TRUE(logs.has("ZipAdd failed with error ("));
    EXPECT_NE(report.find("Backup aborted by user request"), std::string::npos) << report;
    EXPECT_EQ(report.find("Backup Completed"), std::string::npos) << report;
    EXPECT_TRUE(fs::exists(path("failed.mark")));
    EXPECT_FALSE(exists("B1_1.ZIP"));
    EXPECT_FALSE(exists("BACKUP.INI"));
    EXPECT_TRUE(mails.empty());
}

// Under deleted-file tracking a file new to the cycle is taken because no
// list names it. One that failed in both passes is named as not backed up
// and not listed as saved, so the next backup takes it again; one freed
// before the second pass is saved there and listed.
TEST_F(BackupTest, ANewFileThatFailedIsNeitherListedAsSavedNorForgotten) {
    set.BackupType = BACKUP_INCREMENTAL;
    set.BackupsPerCycle = 5;
    set.TrackDeletedFiles = true;
    general.FileLockLevel = FILE_LOCK_EXCLUSIVE;
    general.LockFailureHandling = LOCK_FAILURE_RETRY_LATER;
    file("keep.txt", "k", clock.t - 500);
    ASSERT_EQ(run_backup(), kResultCompleted);

    clock.t += 3600;
    std::string held = file("held.txt", "h", clock.t - 100000);  // copied in: an old time
    file("fresh.txt", "f", clock.t - 100000);
    {
        test::LockHolder holder(held, test::LockHolder::Flock);
        ASSERT_EQ(run_backup(), kResultCompleted) << report;
    }
    EXPECT_EQ(logs.occurrences("Exclusive lock failed for file " + held), 2);
    EXPECT_NE(report.find("The following files could not be backed up:\r\n" + held + "\r\n"),
              std::string::npos)
        << report;
    EXPECT_EQ(list("L1_2.TXT"), "A " + src + "/\r\nB fresh.txt\r\n");

    clock.t += 3600;
    ASSERT_EQ(run_backup(), kResultCompleted) << report;
    EXPECT_EQ(list("L1_3.TXT"), "A " + src + "/\r\nB held.txt\r\n");
    EXPECT_EQ(logs.occurrences("Save " + held), 3);

    clock.t += 3600;
    std::string late = file("late.txt", "l", clock.t - 100000);
    test::LockHolder holder(late, test::LockHolder::Flock);
    logs.on_line = [&](int, const std::string& text) {
        if (text == "Exclusive lock failed for file " + late + "\n") holder.let_go();
    };
    ASSERT_EQ(run_backup(), kResultCompleted) << report;
    logs.on_line = nullptr;
    EXPECT_EQ(logs.occurrences("Save " + late), 2);
    EXPECT_EQ(report.find("could not be backed up"), std::string::npos) << report;
    EXPECT_EQ(list("L1_4.TXT"), "A " + src + "/\r\nB late.txt\r\n");
    SafReader r;
    r.open(dest + "/B1_4.SAF");
    ASSERT_EQ(r.entry_count(), 2u);  // the file and the trailer
    EXPECT_EQ(r.entry(0).name, late);
}

// One file refused (EACCES at open) and one failing to stat (EIO) in a
// real run: the report names both and every other file is saved.
TEST_F(BackupTest, FilesTheSystemRefusesAreReportedAndTheRestSaved) {
    set.TrackDeletedFiles = true;
    for (const char* n : {"a.txt", "refused.txt", "b.txt", "broken.txt", "c.txt"}) file(n, n);
    test::FaultEnv env(clock);
    env.fail_open(src + "/refused.txt", EACCES);
    env.fail_stat(src + "/broken.txt", EIO);
    ASSERT_EQ(run_backup(&env), kResultCompleted) << report;
    EXPECT_NE(report.find("Can't stat " + src + "/broken.txt"), std::string::npos) << report;
    EXPECT_NE(report.find("Could not save " + src + "/refused.txt: Permission denied"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("The following files could not be backed up:"), std::string::npos);
    EXPECT_NE(report.find("\r\n2 files could not be saved"), std::string::npos) << report;
    SafReader r;
    r.open(dest + "/B1_1.SAF");
    std::set<std::string> saved;
    for (size_t i = 0; i + 1 < r.entry_count(); ++i) saved.insert(r.entry(i).name);
    EXPECT_EQ(saved, (std::set<std::string>{src + "/a.txt", src + "/b.txt", src + "/c.txt"}));
    std::string listed = list("L1_1.TXT");
    EXPECT_EQ(listed.find("refused.txt"), std::string::npos) << listed;
    EXPECT_EQ(listed.find("broken.txt"), std::string::npos) << listed;
}

// With UseArchiveBit the marker alone selects, whatever the times say; it
// is cleared once a file is saved and kept by a file that failed.
TEST_F(BackupTest, TheArchiveMarkerSelectsFilesAndIsClearedOnlyOnceSaved) {
    auto state_of = [](const std::string& p) {
        platform::FileInfo fi;
        EXPECT_TRUE(platform::stat_path(p, fi)) << p;
        return platform::archive_state(p, fi);
    };
    std::string probe = file("probe", "p");
    if (state_of(probe) == platform::ArchiveState::Unsupported)
        GTEST_SKIP() << "the file system of " << src << " keeps no user extended attributes";
    fs::remove(probe);
    set.BackupType = BACKUP_INCREMENTAL;
    set.UseArchiveBit = true;
    set.BackupsPerCycle = 5;
    general.FileLockLevel = FILE_LOCK_EXCLUSIVE;
    general.LockFailureHandling = LOCK_FAILURE_FAIL;
    std::string a = file("a.txt", "a", clock.t - 100000);
    std::string b = file("b.txt", "b", clock.t - 100000);
    EXPECT_EQ(state_of(a), platform::ArchiveState::Set);
    {
        test::LockHolder holder(b, test::LockHolder::Flock);
        ASSERT_EQ(run_backup(), kResultCompleted) << report;
    }
    EXPECT_TRUE(logs.has("Couldn't lock file " + b));
    EXPECT_EQ(state_of(a), platform::ArchiveState::Clear);
    EXPECT_EQ(state_of(b), platform::ArchiveState::Set);

    // Old times both: only the marker takes b again.
    clock.t += 3600;
    ASSERT_EQ(run_backup(), kResultCompleted) << report;
    EXPECT_EQ(logs.occurrences("Save " + a), 1);
    EXPECT_EQ(logs.occurrences("Save " + b), 2);
    EXPECT_EQ(state_of(b), platform::ArchiveState::Clear);

    ASSERT_TRUE(platform::set_archive_attribute(a));
    clock.t += 3600;
    ASSERT_EQ(run_backup(), kResultCompleted) << report;
    EXPECT_EQ(logs.occurrences("Save " + a), 2);
    EXPECT_EQ(logs.occurrences("Save " + b), 2);
    EXPECT_EQ(state_of(a), platform::ArchiveState::Clear);
}

// Whoever owns a destination may plant links in it while a run as root
// writes there: a link at the archive's name, or at the copy folder's, must
// never lead the run to replace or fill another file or folder.
TEST_F(BackupTest, LinksPlantedWhileARunWritesLeadNowhere) {
    if (::geteuid() != 0) GTEST_SKIP() << "the race matters for a run as root only";
    std::string victim = write_file("victim/passwd", "root:x:0:0\n");
    ASSERT_EQ(::chmod(victim.c_str(), 0644), 0);
    for (int i = 0; i < 20; ++i) file("f" + std::to_string(i) + ".txt", std::string(5000, 'x'));
    set.BackupsPerCycle = 1;  // every run clears and refills B1_1
    set.CyclesToSave = 1;
    for (int32_t format : {SAVE_SAF, SAVE_ZIP, SAVE_DISCRETE}) {
        set.SaveFormat = format;
        fs::remove_all(dest);
        fs::create_directories(dest);
        const char* name = format == SAVE_SAF   ? "B1_1.SAF"
                           : format == SAVE_ZIP ? "B1_1.ZIP"
                                                : "B1_1";
        std::string target = format == SAVE_DISCRETE ? path("victim") : victim;
        std::atomic<bool> stop{false};
        std::thread planter([&] {
            std::string temp = dest + "/planted", at = dest + "/" + name;
            while (!stop) {
                ::symlink(target.c_str(), temp.c_str());
                ::rename(temp.c_str(), at.c_str());
            }
        });
        for (int run = 0; run < 10; ++run) {
            clock.t += 60;
            run_backup();
        }
        stop = true;
        planter.join();
        EXPECT_EQ(read_file(victim), "root:x:0:0\n") << format;
        EXPECT_EQ(fs::status(victim).permissions() & fs::perms::all, fs::perms(0644)) << format;
        EXPECT_EQ(std::distance(fs::directory_iterator(path("victim")), {}), 1) << format;
    }
}

// A destination below a backed-up folder, also reached again through a
// link: its backups are never walked, and the archive is never read into
// itself.
TEST_F(BackupTest, ADestinationInsideTheBackedUpFolderIsNeverWalked) {
    file("a.txt", "a");
    dest = src + "/bk";
    set.BackupDestination = dest;
    fs::create_directories(dest);
    fs::create_directory_symlink(dest, path("bk-link"));
    fs::create_symlink(dest + "/B1_1.SAF", src + "/self.SAF");
    set.BackupDirs = src + "\r\n" + path("bk-link");
    ASSERT_EQ(run_backup(), kResultCompleted) << report;
    SafReader r;
    r.open(dest + "/B1_1.SAF");
    std::set<std::string> names;
    for (size_t i = 0; i + 1 < r.entry_count(); ++i) names.insert(r.entry(i).name);
    EXPECT_EQ(names, std::set<std::string>{src + "/a.txt"});

    set.SaveFormat = SAVE_DISCRETE;
    set.Name = "Copies";
    dest = src + "/copies";
    set.BackupDestination = dest;
    set.BackupDirs = src;
    ASSERT_EQ(run_backup(), kResultCompleted) << report;
    EXPECT_TRUE(exists("B1_1/a.txt"));
    EXPECT_FALSE(exists("B1_1/copies"));
}

// "BACKUP.INI" missing or damaged in any way: the run counts the backups
// from the folder, says so, and goes on after the newest, deleting none.
TEST_F(BackupTest, AMissingOrDamagedStateIsRebuiltFromTheBackupsThere) {
    set.BackupsPerCycle = 3;
    set.CyclesToSave = 2;
    file("a.txt", "a");
    for (int i = 0; i < 4; ++i) {  // 1_1, 1_2, 1_3, then 2_1, the newest
        clock.t += 3600;
        ASSERT_EQ(run_backup(), kResultCompleted) << report;
    }
    std::string ini = dest + "/BACKUP.INI", good = read_file(ini);
    // File times say which is newest, not the numbers.
    int64_t t = 1700000000;
    for (const char* n : {"B1_1.SAF", "B1_2.SAF", "B1_3.SAF", "B2_1.SAF"}) {
        uint64_t ft = platform::filetime_from_unix(t += 100, 0);
        platform::set_file_times(dest + "/" + n, ft, ft);
    }
    std::string damaged[] = {"", "\r\n[BACKUPSET]\r\nNAME=Nightly\r\nSEQUENCE=abc\r\nCYCLE=2\r\n",
                             good.substr(0, good.size() / 2), std::string("\x01\xff garbage", 10)};
    for (int form = 0; form < 5; ++form) {
        if (form == 4)
            fs::remove(ini);
        else
            test::write_whole_file(ini, damaged[form]);
        logs.clear();
        clock.t += 3600;
        ASSERT_EQ(run_backup(), kResultCompleted) << form << report;
        EXPECT_TRUE(logs.has(ini + " is missing or damaged: rebuilt from the 4 backups in the "
                                   "folder, the newest B2_1"))
            << form;
        for (const char* n : {"B1_1.SAF", "B1_2.SAF", "B1_3.SAF", "B2_1.SAF", "B2_2.SAF"})
            EXPECT_TRUE(exists(n)) << form << " " << n;
        IniDocument st = state();
        EXPECT_EQ(st.get_number("BACKUPSET", "CYCLE"), 2) << form;
        EXPECT_EQ(st.get_number("BACKUPSET", "SEQUENCE"), 2) << form;
        EXPECT_EQ(st.get_number("BACKUPSET", "BACKUPINSTANCE_1_3"), 1700000300) << form;
        fs::remove(dest + "/B2_2.SAF");
    }
}

// A FIFO where a state file is expected would block the run for ever: it is
// refused with a clear error, and never opened for reading.
TEST_F(BackupTest, StateFilesThatAreNotRegularFilesAreRefused) {
    set.TrackDeletedFiles = true;
    set.BackupsPerCycle = 3;
    file("a.txt", "a");
    fs::create_directories(dest);
    ASSERT_EQ(::mkfifo((dest + "/BACKUP.INI").c_str(), 0600), 0);
    EXPECT_EQ(run_backup(), kResultFailed);
    EXPECT_NE(report.find(dest + "/BACKUP.INI is not a regular file"), std::string::npos) << report;
    fs::remove(dest + "/BACKUP.INI");
    ASSERT_EQ(run_backup(), kResultCompleted) << report;
    fs::remove(dest + "/L1_1.TXT");
    ASSERT_EQ(::mkfifo((dest + "/L1_1.TXT").c_str(), 0600), 0);
    clock.t += 3600;
    EXPECT_EQ(run_backup(), kResultCompleted) << report;
    EXPECT_TRUE(logs.has(dest + "/L1_1.TXT is not a regular file"));
}

// An edit that sets mtime back (touch -r) still changes ctime, which a
// user cannot set: the next incremental backup takes the file.
TEST_F(BackupTest, AnEditThatKeepsItsModificationTimeIsSaved) {
    set.BackupType = BACKUP_INCREMENTAL;
    set.BackupsPerCycle = 3;
    clock.t = ::time(nullptr) - 60;
    std::string f = file("notes.txt", "first", clock.t - 3600);
    ASSERT_EQ(run_backup(), kResultCompleted);
    test::write_whole_file(f, "FIRST");
    uint64_t old = platform::filetime_from_unix(clock.t - 3600, 0);
    platform::set_file_times(f, old, old);
    clock.t = ::time(nullptr) + 1;
    ASSERT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(report.find("No activity"), std::string::npos) << report;
    EXPECT_TRUE(exists("B1_2.SAF"));
}

// What the report says beyond the files: dotfiles left out by the default,
// an encoded set without a password, a save format out of range.
TEST_F(BackupTest, TheReportSaysWhatWasLeftOutAndWhy) {
    file("a.txt", "a");
    file(".profile", "p");
    file(".config/app.ini", "c");
    set.PasswordEncode = true;
    ASSERT_EQ(run_backup(), kResultCompleted);
    EXPECT_TRUE(
        logs.has("Encoding is on for this set but no encoding password is set: the "
                 "backup is not encoded"));
    EXPECT_EQ(report.substr(report.rfind("\r\n") + 2),
              "2 hidden files and folders were left out (IncludeHiddenFiles is off)");
    set.SaveFormat = 7;
    EXPECT_EQ(run_backup(), kResultFailed);
    EXPECT_NE(report.find("Backup set 'Nightly': SaveFormat 7 is not one of 0 (SAF Archive), 1 "
                          "(ZIP file), 2 (Discrete files)"),
              std::string::npos)
        << report;
}

}  // namespace
}  // namespace vardel
