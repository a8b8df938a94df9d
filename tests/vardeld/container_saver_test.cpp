// Saving one file, driven through a real Backup over real files: locks held
// by a second process, a file written to while it is saved, read-back, the
// discrete copies and the ZIP size limit.
#include "vardeld/container_saver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/setting_names.h"
#include "common/text_helpers.h"
#include "containers/password_stream.h"
#include "tests/support/fault_env.h"
#include "tests/support/tiny_fs.h"
#include "tests/vardeld/saving_support.h"
#include "vardeld/service_messages.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;
using test::LockHolder;

std::string pattern_bytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}

class SafLocking : public test::SavingTest {
  protected:
    void SetUp() override {
        SavingTest::SetUp();
        locked = write_file("data/locked.txt", "held by another program");
        write_file("data/free.txt", "nobody holds me");
        set.SaveFormat = SAVE_SAF;
    }
    std::map<std::string, std::string> saved() {
        return test::read_saf(saf_path(), "", scratch()).files;
    }
    std::string locked;
};

TEST_F(SafLocking, WaitTriesRetryLockTimesThenGivesUp) {
    general.FileLockLevel = FILE_LOCK_EXCLUSIVE;
    general.LockFailureHandling = LOCK_FAILURE_WAIT;
    general.RetryLockTimes = 2;
    LockHolder holder(locked, LockHolder::Flock);
    test::OpenCounter opens(locked);
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(opens.opens(), 2);
    EXPECT_EQ(logs.count(LOG_INFO, "Couldn't lock file " + locked + "\n"), 1);
    auto files = saved();
    EXPECT_EQ(files.count(locked), 0u);
    EXPECT_EQ(files.count(data() + "/free.txt"), 1u);
    // A lock failure is not tried again, and the report names the file.
    EXPECT_EQ(not_backed_up(), std::vector<std::string>{locked});
}

TEST_F(SafLocking, RetryLockTimesZeroMeansOneAttempt) {
    general.LockFailureHandling = LOCK_FAILURE_WAIT;
    general.RetryLockTimes = 0;
    general.FileChangeRetries = 0;
    LockHolder holder(locked, LockHolder::Flock);
    test::OpenCounter opens(locked);
    run_backup();
    EXPECT_EQ(opens.opens(), 1);
    EXPECT_EQ(retry_lock_times_after, 1);
    EXPECT_EQ(file_change_retries_after, 1);
    // FileChangeRetries 0 still makes one save attempt for the free file.
    EXPECT_EQ(saved().count(data() + "/free.txt"), 1u);
}

TEST_F(SafLocking, WaitSavesOnceTheHolderLetsGo) {
    general.LockFailureHandling = LOCK_FAILURE_WAIT;
    general.RetryLockTimes = 3;
    LockHolder holder(locked, LockHolder::Flock, LockHolder::LetGo::AfterFirstAttempt);
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(saved()[locked], "held by another program");
    EXPECT_EQ(logs.count("Couldn't lock file " + locked + "\n"), 0);
}

TEST_F(SafLocking, RetryLaterSavesInTheSecondPassOnceTheHolderLetGo) {
    general.LockFailureHandling = LOCK_FAILURE_RETRY_LATER;
    LockHolder holder(locked, LockHolder::Flock);
    // The first refusal lets the holder go before the run walks on.
    logs.on_line = [&](int, const std::string& text) {
        if (text == "Exclusive lock failed for file " + locked + "\n") holder.let_go();
    };
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(logs.count(LOG_DEBUG, "Exclusive lock failed for file " + locked + "\n"), 1);
    EXPECT_EQ(saved()[locked], "held by another program");
    EXPECT_TRUE(not_backed_up().empty());
}

TEST_F(SafLocking, RetryLaterNamesAFileStillHeldAfterTheSecondPass) {
    general.LockFailureHandling = LOCK_FAILURE_RETRY_LATER;
    LockHolder holder(locked, LockHolder::Flock);
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(logs.count(LOG_DEBUG, "Exclusive lock failed for file " + locked + "\n"), 2);
    EXPECT_EQ(not_backed_up(), std::vector<std::string>{locked});
    EXPECT_EQ(saved().count(locked), 0u);
}

TEST_F(SafLocking, DegradeOpensSharedAndSavesUnderAReadLock) {
    general.LockFailureHandling = LOCK_FAILURE_DEGRADE;
    LockHolder holder(locked, LockHolder::Flock);
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(logs.count(LOG_DEBUG, "Exclusive lock failed -- degrade locking\n"), 1);
    EXPECT_EQ(logs.count("File degraded to no-lock\n"), 0);
    EXPECT_EQ(saved()[locked], "held by another program");
}

TEST_F(SafLocking, DegradeSavesUnlockedWhenTheByteRangeLockFailsToo) {
    general.LockFailureHandling = LOCK_FAILURE_DEGRADE;
    general.RetryLockTimes = 2;
    LockHolder holder(locked, LockHolder::Flock | LockHolder::WriteLock);
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(logs.count(LOG_DEBUG, "Exclusive lock failed -- degrade locking\n"), 1);
    // Each lock attempt degrades; when they are used up the file is saved.
    EXPECT_EQ(logs.count(LOG_DEBUG, "File degraded to no-lock\n"), 2);
    EXPECT_EQ(saved()[locked], "held by another program");
}

TEST_F(SafLocking, ReadLockAgainstAWriterDegradesToNoLock) {
    general.FileLockLevel = FILE_LOCK_READ;
    general.LockFailureHandling = LOCK_FAILURE_DEGRADE;
    general.RetryLockTimes = 1;
    LockHolder holder(locked, LockHolder::WriteLock);
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(logs.count(LOG_DEBUG, "File degraded to no-lock\n"), 1);
    EXPECT_EQ(logs.count("Exclusive lock failed -- degrade locking\n"), 0);
    EXPECT_EQ(saved()[locked], "held by another program");
}

TEST_F(SafLocking, ReadLockRetryLaterAndFail) {
    general.FileLockLevel = FILE_LOCK_READ;
    general.LockFailureHandling = LOCK_FAILURE_RETRY_LATER;
    {
        LockHolder holder(locked, LockHolder::WriteLock);
        logs.on_line = [&](int, const std::string& text) {
            if (text == "Couldn't read-lock file " + locked + "\n") holder.let_go();
        };
        run_backup();
        logs.on_line = nullptr;
    }
    EXPECT_EQ(logs.count(LOG_INFO, "Couldn't read-lock file " + locked + "\n"), 1);
    EXPECT_EQ(saved()[locked], "held by another program");
    EXPECT_TRUE(not_backed_up().empty());

    general.LockFailureHandling = LOCK_FAILURE_FAIL;
    LockHolder holder(locked, LockHolder::WriteLock);
    run_backup();
    EXPECT_EQ(logs.count(LOG_INFO, "Couldn't lock file\n"), 1);
    EXPECT_EQ(saved().count(locked), 0u);
    EXPECT_EQ(not_backed_up(), std::vector<std::string>{locked});
}

TEST_F(SafLocking, FailGivesUpAtOnceAndSmartLockingOpensProgramsShared) {
    general.LockFailureHandling = LOCK_FAILURE_FAIL;
    std::string exe = write_file("data/tool.EXE", "a program");
    std::string dll = write_file("data/lib.Dll", "a library");
    LockHolder a(locked, LockHolder::Flock), b(exe, LockHolder::Flock), c(dll, LockHolder::Flock);
    test::OpenCounter opens(locked);
    run_backup();
    EXPECT_EQ(opens.opens(), 1);
    EXPECT_EQ(logs.count(LOG_INFO, "Couldn't lock file " + locked + "\n"), 1);
    auto files = saved();
    EXPECT_EQ(files.count(locked), 0u);
    EXPECT_EQ(files[exe], "a program");
    EXPECT_EQ(files[dll], "a library");

    // Without SmartLocking the program is opened unshared like any file.
    general.SmartLocking = false;
    run_backup();
    EXPECT_EQ(saved().count(exe), 0u);
    EXPECT_EQ(logs.count(LOG_INFO, "Couldn't lock file " + exe + "\n"), 1);
}

TEST_F(SafLocking, NoLockLevelIgnoresAHolder) {
    general.FileLockLevel = FILE_LOCK_NONE;
    general.LockFailureHandling = LOCK_FAILURE_FAIL;
    LockHolder holder(locked, LockHolder::Flock | LockHolder::WriteLock);
    run_backup();
    EXPECT_EQ(saved()[locked], "held by another program");
}

// A file another process keeps appending to. The write of its entry's head
// waits until the appender has written once more, so every save of that
// file sees a change, however the two processes are scheduled.
class SafChanges : public test::SavingTest {
  protected:
    void SetUp() override {
        SavingTest::SetUp();
        set.SaveFormat = SAVE_SAF;
        busy = write_file("data/busy.log", pattern_bytes(200000, 1));
        write_file("data/quiet.txt", "still");
        services.saf_archive_file = [this] {
            auto f = std::make_unique<test::WatchedArchiveFile>();
            f->before_write = [this](size_t length) {
                // Only a write that carries busy.log's entry (its head and
                // more): it is written after the first snapshot and before
                // the second.
                if (length < 88 + busy.size() + 1 || !appender || !appender->running()) return;
                uint64_t size0 = fs::file_size(busy);
                test::wait_until([&] { return fs::file_size(busy) > size0; });
            };
            return f;
        };
    }
    std::string busy;
    std::unique_ptr<test::Appender> appender;
};

TEST_F(SafChanges, TryAgainLaterSavesAFileQuietByTheSecondPass) {
    general.FileChangeHandling = CHANGE_TRY_AGAIN_LATER;
    appender = std::make_unique<test::Appender>(busy);
    logs.on_line = [&](int, const std::string& text) {
        if (text == "File changed\n") appender->stop();
    };
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(logs.count(LOG_INFO, "File changed\n"), 1);
    EXPECT_TRUE(not_backed_up().empty());
    auto files = test::read_saf(saf_path(), "", scratch()).files;
    // The entry holds the file as it stood once the writer had stopped.
    EXPECT_EQ(files[busy], read_file(busy));
    EXPECT_GT(files[busy].size(), 200000u);
    EXPECT_EQ(files[data() + "/quiet.txt"], "still");
}

TEST_F(SafChanges, TryAgainLaterNamesAFileThatKeepsChanging) {
    general.FileChangeHandling = CHANGE_TRY_AGAIN_LATER;
    general.FileChangeRetries = 3;  // one attempt a pass all the same
    appender = std::make_unique<test::Appender>(busy);
    EXPECT_EQ(run_backup(), kResultCompleted);
    appender->stop();
    EXPECT_EQ(logs.count(LOG_INFO, "File changed\n"), 2);
    EXPECT_EQ(not_backed_up(), std::vector<std::string>{busy});
    auto contents = test::read_saf(saf_path(), "", scratch());
    // The dropped entries left nothing behind.
    EXPECT_EQ(contents.files.size(), 1u);
    EXPECT_EQ(contents.files[data() + "/quiet.txt"], "still");
}

TEST_F(SafChanges, WaitAndRetryTriesAgainInTheSamePass) {
    general.FileChangeHandling = CHANGE_WAIT_AND_RETRY;
    general.FileChangeRetries = 2;
    appender = std::make_unique<test::Appender>(busy);
    logs.on_line = [&](int, const std::string& text) {
        if (text == "File changed\n") appender->stop();
    };
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(logs.count(LOG_INFO, "File changed\n"), 1);
    EXPECT_EQ(test::read_saf(saf_path(), "", scratch()).files[busy], read_file(busy));

    // Changing at every attempt: given up after the last, never retried.
    logs.clear();
    logs.on_line = nullptr;
    appender = std::make_unique<test::Appender>(busy);
    run_backup();
    appender->stop();
    EXPECT_EQ(logs.count(LOG_INFO, "File changed\n"), 2);
    EXPECT_EQ(logs.count(LOG_ALERT, "Save failed after all retries\n"), 1);
    EXPECT_EQ(not_backed_up(), std::vector<std::string>{busy});
    EXPECT_EQ(test::read_saf(saf_path(), "", scratch()).files.count(busy), 0u);
}

TEST_F(SafChanges, IgnoreMakesNoChangeCheck) {
    general.FileChangeHandling = CHANGE_GIVE_UP;  // the same as Ignore for SAF
    appender = std::make_unique<test::Appender>(busy);
    run_backup();
    appender->stop();
    EXPECT_EQ(logs.count("File changed\n"), 0);
    EXPECT_EQ(test::read_saf(saf_path(), "", scratch()).files.count(busy), 1u);
}

// Full Readback: the source changes between the write and the read-back.
class SafReadback : public test::SavingTest {
  protected:
    void SetUp() override {
        SavingTest::SetUp();
        set.SaveFormat = SAVE_SAF;
        general.FileValidationLevel = VALIDATION_FULL_READBACK;
        file = write_file("data/doc.bin", pattern_bytes(300000, 2));
        services.saf_archive_file = [this] {
            auto f = std::make_unique<test::WatchedArchiveFile>();
            f->before_read = [this](size_t) {
                if (changes_left == 0) return;
                --changes_left;
                // Same size, one byte different, written in place.
                int fd = ::open(file.c_str(), O_WRONLY);
                char c = static_cast<char>('a' + changes_left);
                ASSERT_EQ(::pwrite(fd, &c, 1, 150000), 1);
                ::close(fd);
            };
            return f;
        };
    }
    std::string file;
    int changes_left = 1;
};

TEST_F(SafReadback, AMismatchIsCaughtAndTheNextAttemptSavesTheFile) {
    general.FileChangeRetries = 2;
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(logs.count(LOG_ALERT, "File verification failed\n"), 1);
    auto files = test::read_saf(saf_path(), "", scratch()).files;
    EXPECT_EQ(files[file], read_file(file));
    EXPECT_EQ(files[file][150000], 'a');
}

TEST_F(SafReadback, AMismatchAtTheLastAttemptLeavesNoEntry) {
    general.FileChangeRetries = 1;
    general.EncodingPassword = "pw";
    set.PasswordEncode = true;
    write_file("data/other.txt", "other");
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(logs.count(LOG_ALERT, "File verification failed\n"), 1);
    EXPECT_EQ(logs.count(LOG_ALERT, "Save failed after all retries\n"), 1);
    auto files = test::read_saf(saf_path(), "pw", scratch()).files;
    EXPECT_EQ(files.count(file), 0u);
    EXPECT_EQ(files[data() + "/other.txt"], "other");
}

// ---- discrete copies

class DiscreteCopies : public test::SavingTest {
  protected:
    void SetUp() override {
        SavingTest::SetUp();
        set.SaveFormat = SAVE_DISCRETE;
    }
};

void set_times(const std::string& p, int64_t atime, long ans, int64_t mtime, long mns) {
    struct timespec ts[2] = {{atime, ans}, {mtime, mns}};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), ts, 0), 0);
}

TEST_F(DiscreteCopies, KeepTimesAndPermissionBitsEvenThroughReadBack) {
    general.FileChangeHandling = CHANGE_GIVE_UP;
    general.FileValidationLevel = VALIDATION_FULL_READBACK;
    struct Case {
        const char* name;
        mode_t mode;
        mode_t kept;
    } cases[] = {{"plain.txt", 0640, 0640},
                 {"tool.sh", 0755, 0755},
                 {"ro.txt", 0444, 0444},
                 // A copy is no second set-uid program.
                 {"suid", 04755, 0755}};
    for (const Case& c : cases) {
        std::string p = write_file(std::string("data/") + c.name, c.name);
        ASSERT_EQ(::chmod(p.c_str(), c.mode), 0);
        // Times travel as FILETIMEs: 100 ns is their unit.
        set_times(p, 978307200, 123456700, 1012608000, 987654300);
    }
    EXPECT_EQ(run_backup(), kResultCompleted);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string copy = copies() + "/" + c.name;
        struct stat st {};
        ASSERT_EQ(::stat(copy.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.kept);
        EXPECT_EQ(st.st_mtim.tv_sec, 1012608000);
        EXPECT_EQ(st.st_mtim.tv_nsec, 987654300);
        EXPECT_EQ(st.st_atim.tv_sec, 978307200);
        EXPECT_EQ(st.st_atim.tv_nsec, 123456700);
        EXPECT_EQ(read_file(copy), c.name);
    }
    EXPECT_EQ(logs.count("File validation failed!\n"), 0);
}

TEST_F(DiscreteCopies, SavePathInfoPlacesTheFileBelowTheRootOrTheFullPath) {
    write_file("data/Sub/a.txt", "A");
    set.SavePathInfo = false;
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(read_file(copies() + "/Sub/a.txt"), "A");

    set.SavePathInfo = true;
    EXPECT_EQ(run_backup(), kResultCompleted);
    // The full path without its leading "/".
    EXPECT_EQ(read_file(copies() + "/" + data().substr(1) + "/Sub/a.txt"), "A");
    EXPECT_FALSE(fs::exists(copies() + "/Sub"));
}

TEST_F(DiscreteCopies, AFileRootLandsBesideItsFolderAndEmptyFoldersAreMade) {
    write_file("data/one/x.txt", "x");
    fs::create_directories(data() + "/one/empty/deeper");
    set.BackupDirs = data() + "/one/x.txt\r\n" + data() + "/one/empty";
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(read_file(copies() + "/x.txt"), "x");
    EXPECT_TRUE(fs::is_directory(copies() + "/deeper"));
}

TEST_F(DiscreteCopies, EncodedCopiesDecodeFromPositionZeroPerFile) {
    general.EncodingPassword = "k3y";
    set.PasswordEncode = true;
    std::string a = pattern_bytes(40000, 3), b = pattern_bytes(17, 4);
    write_file("data/a.bin", a);
    write_file("data/b.bin", b);
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(read_file(copies() + "/a.bin"), test::encoded(a, "k3y"));
    EXPECT_EQ(read_file(copies() + "/b.bin"), test::encoded(b, "k3y"));
}

TEST(ContainerSaverCompare, CompareFilesSeesEncodingAndDifferences) {
    std::string dir = test::make_temp_dir();
    BackupSet s;
    GeneralSettings g;
    g.EncodingPassword = "pw";
    RunFlags flags;
    BackupRun run(s, g, flags);
    run.encode = true;
    ContainerSaver saver(run, platform::Env::real());
    std::string src = dir + "/src", dst = dir + "/dst";
    platform::TargetFolder folder;
    ASSERT_TRUE(folder.open(dir));
    test::write_whole_file(src, pattern_bytes(50000, 5));
    ASSERT_TRUE(saver.copy_and_encode(src, folder, "dst"));
    EXPECT_TRUE(saver.compare_files(src, folder, "dst"));
    std::string bytes = test::read_whole_file(dst);
    bytes[49999] ^= 1;
    test::write_whole_file(dst, bytes);
    EXPECT_FALSE(saver.compare_files(src, folder, "dst"));
    test::write_whole_file(dst, bytes.substr(0, 16384));
    EXPECT_FALSE(saver.compare_files(src, folder, "dst"));
    // A missing source is a failed copy with its errno.
    EXPECT_FALSE(saver.copy_and_encode(dir + "/none", folder, "dst"));
    EXPECT_EQ(saver.copy_error(), ENOENT);
    test::remove_tree(dir);
}

// A copy that fails in the first pass is tried again at the end, below the
// root it was first walked under, not the last root.
TEST_F(DiscreteCopies, ARetriedCopyKeepsThePathOfItsOwnRoot) {
    std::string big_path = write_file("data/one/sub/big.bin", "big");
    write_file("data/two/small.txt", "small");
    set.BackupDirs = data() + "/one\r\n" + data() + "/two";
    test::FaultEnv faults;
    faults.fail_open(big_path, EIO, 1);
    env = &faults;
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(logs.count(LOG_COMPLAIN, "Backup attempt failed for " + big_path + "\n"), 1);
    EXPECT_EQ(read_file(copies() + "/sub/big.bin"), "big");
    EXPECT_FALSE(fs::exists(copies() + "/big.bin"));
    EXPECT_EQ(read_file(copies() + "/small.txt"), "small");
    EXPECT_TRUE(not_backed_up().empty());
}

// A destination too full for the backup fails the run in every format: no
// backup is recorded without its files, the partial output goes, and the
// backup before it is untouched.
TEST_F(DiscreteCopies, AFullDestinationFailsTheRunAndKeepsTheEarlierBackup) {
    test::TinyFs tiny(dest(), 256 * 1024);
    if (!tiny.ok()) GTEST_SKIP() << tiny.why_not();
    set.BackupsPerCycle = 2;
    write_file("data/small.txt", "small");
    for (int32_t format : {SAVE_DISCRETE, SAVE_SAF, SAVE_ZIP}) {
        set.SaveFormat = format;
        set.Name = "Set" + std::to_string(format);
        set.BackupDestination = dest() + "/" + set.Name;
        fs::remove(data() + "/big.bin");
        auto out = [&](int seq) {
            const char* ext = format == SAVE_SAF ? ".SAF" : format == SAVE_ZIP ? ".ZIP" : "";
            return strprintf("%s/B1_%d%s", set.BackupDestination.c_str(), seq, ext);
        };
        ASSERT_EQ(run_backup(), kResultCompleted) << format;
        std::string state = read_file(set.BackupDestination + "/BACKUP.INI");
        write_file("data/big.bin", pattern_bytes(400000, 7));
        EXPECT_EQ(run_backup(), kResultFailed) << format;
        EXPECT_TRUE(report_has("Can't write the backup to " + set.BackupDestination +
                               "/: No space left on device"))
            << format;
        EXPECT_FALSE(fs::exists(out(2))) << format;
        EXPECT_EQ(read_file(set.BackupDestination + "/BACKUP.INI"), state) << format;
        EXPECT_TRUE(fs::exists(out(1))) << format;
        fs::remove_all(set.BackupDestination);
    }
}

TEST(ContainerSaverRoots, TheLongestRootHoldingAPathWins) {
    BackupSet s;
    GeneralSettings g;
    RunFlags flags;
    BackupRun run(s, g, flags);
    run.current_root = "/last/";
    ContainerSaver saver(run, platform::Env::real());
    saver.add_root("/data/");
    saver.add_root("/data/deep/");
    saver.add_root("/database/");
    // A single file holds only itself, however long its folder.
    saver.add_file_root("/data/deep/inner/one.txt");
    saver.add_file_root("/solo/only.txt");
    EXPECT_EQ(saver.root_of("/data/deep/x"), "/data/deep/");
    EXPECT_EQ(saver.root_of("/data/deeper/x"), "/data/");
    EXPECT_EQ(saver.root_of("/database/x"), "/database/");
    EXPECT_EQ(saver.root_of("/elsewhere/x"), "/last/");
    EXPECT_EQ(saver.root_of("/data/deep/inner/one.txt"), "/data/deep/inner/");
    EXPECT_EQ(saver.root_of("/data/deep/inner/two.txt"), "/data/deep/");
    EXPECT_EQ(saver.root_of("/data/deep/inner/one.txt.bak"), "/data/deep/");
    EXPECT_EQ(saver.root_of("/solo/only.txt"), "/solo/");
    EXPECT_EQ(saver.root_of("/solo/other.txt"), "/last/");
}

// Roots that hold the same relative name, or overlap: the copy that comes
// second goes below its root's own folder name and replaces nothing; only
// when that place is taken too is the file reported as not saved.
TEST_F(DiscreteCopies, ACopyNeverReplacesAnotherOfTheSameRun) {
    write_file("data/r1/a.txt", "first");
    std::string r2 = write_file("data/r2/a.txt", "second");
    write_file("data/r2/b.txt", "b");
    set.BackupDirs = data() + "/r1\r\n" + data() + "/r2";
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(read_file(copies() + "/a.txt"), "first");
    EXPECT_EQ(read_file(copies() + "/r2/a.txt"), "second");
    EXPECT_EQ(read_file(copies() + "/b.txt"), "b");
    EXPECT_TRUE(not_backed_up().empty());
    write_file("data/r1/r2/a.txt", "third");
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(read_file(copies() + "/r2/a.txt"), "third");
    EXPECT_EQ(not_backed_up(), std::vector<std::string>{r2});
    fs::remove_all(data() + "/r1/r2");

    // data/top/sub/a.txt is "a.txt" below the second root, as data/top/a.txt
    // is below the first: the same file, walked twice, copied once.
    std::string top = write_file("data/top/a.txt", "top");
    std::string sub = write_file("data/top/sub/a.txt", "sub");
    set.BackupDirs = data() + "/top\r\n" + data() + "/top/sub";
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(read_file(copies() + "/a.txt"), "top");
    EXPECT_EQ(read_file(copies() + "/sub/a.txt"), "sub");
    EXPECT_TRUE(not_backed_up().empty());

    // With the full path, overlapping roots walk one file twice: one copy
    // of the same file is no loss and no failure.
    set.SavePathInfo = true;
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(read_file(copies() + sub), "sub");
    EXPECT_EQ(read_file(copies() + top), "top");
    EXPECT_TRUE(not_backed_up().empty());
}

// The copies keep their files' bits; their folders are their owner's alone,
// as the archives are, whatever the source folders allowed.
TEST_F(DiscreteCopies, TheCopyFoldersAreForTheirOwnerAlone) {
    std::string secret = write_file("data/private/secret.txt", "s");
    ASSERT_EQ(::chmod((data() + "/private").c_str(), 0700), 0);
    ASSERT_EQ(::chmod(secret.c_str(), 0644), 0);
    fs::create_directories(data() + "/open/empty");
    ASSERT_EQ(::chmod((data() + "/open").c_str(), 0755), 0);
    auto mode = [](const std::string& p) {
        struct stat st {};
        EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
        return st.st_mode & 07777;
    };
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(mode(copies()), 0700u);
    EXPECT_EQ(mode(copies() + "/private"), 0700u);
    EXPECT_EQ(mode(copies() + "/open"), 0700u);
    EXPECT_EQ(mode(copies() + "/open/empty"), 0700u);
    EXPECT_EQ(mode(copies() + "/private/secret.txt"), 0644u);

    set.SavePathInfo = true;
    EXPECT_EQ(run_backup(), kResultCompleted);
    std::string first = data().substr(1, data().find('/', 1));
    EXPECT_EQ(mode(copies() + "/" + first), 0700u);
    EXPECT_EQ(mode(copies() + secret), 0644u);
}

// A copy folder that cannot be made fails the run, where it used to end as
// a backup without activity.
TEST_F(DiscreteCopies, ADestinationThatRefusesTheCopyFolderFailsTheRun) {
    write_file("data/a.txt", "a");
    fs::create_directories(dest());
    test::UnwritableFolder locked(dest());
    if (!locked.ok()) GTEST_SKIP() << locked.why_not();
    EXPECT_EQ(run_backup(), kResultFailed);
    std::string line = "Can't create folder " + dest() + "/B1_1/: ";
    bool reported = false;
    for (const std::string& l : report) reported |= l.rfind(line, 0) == 0;
    EXPECT_TRUE(reported) << line;
    EXPECT_TRUE(report_has("Backup 'Saving': LoadParameters failed"));
    EXPECT_FALSE(report_has("No activity. Backup not done"));
}

// ---- ZIP

class ZipSaving : public test::SavingTest {
  protected:
    void SetUp() override {
        SavingTest::SetUp();
        set.SaveFormat = SAVE_ZIP;
    }
};

TEST_F(ZipSaving, RefusesAFileOf4GiBAndSavesTheRest) {
    std::string huge = path("data/huge.img");
    {
        int fd = ::open(huge.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 4294967296LL), 0);  // sparse: no disk taken
        ::close(fd);
    }
    write_file("data/ok.txt", "ok");
    EXPECT_EQ(run_backup(), kResultCompleted);
    EXPECT_EQ(logs.count(LOG_COMPLAIN, "File '" + huge + "' is too large for zip file (4GB max)\n"),
              1);
    EXPECT_TRUE(report_has("File '" + huge + "' is too large for zip file (4GB max)"));
    EXPECT_EQ(not_backed_up(), std::vector<std::string>{huge});
    auto zip = test::read_zip(zip_path(), "", scratch());
    EXPECT_EQ(zip.files.size(), 1u);
    EXPECT_EQ(zip.files[data().substr(1) + "/ok.txt"], "ok");
}

TEST_F(ZipSaving, NamesAFileChangedDuringTheAddButKeepsTheEntry) {
    general.FileChangeHandling = CHANGE_GIVE_UP;
    std::string busy = write_file("data/busy.log", pattern_bytes(4 << 20, 8));
    write_file("data/quiet.txt", "quiet");
    // The read hook sees the data only after the appender has written more.
    test::Appender appender(busy);
    test::wait_until([&] { return fs::file_size(busy) > (4u << 20) + 100; });
    logs.on_line = [&](int, const std::string& text) {
        // Another byte between the snapshot and the add, with certainty.
        if (text == "ZipAdd " + busy + "\n") {
            uint64_t s0 = fs::file_size(busy);
            test::wait_until([&] { return fs::file_size(busy) > s0; });
        }
    };
    run_backup();
    appender.stop();
    EXPECT_EQ(logs.count(LOG_ALERT, "File changed during backup\n"), 1);
    EXPECT_EQ(logs.count(LOG_ALERT, "Backed-up file " + busy + " may be invalid\n"), 1);
    auto zip = test::read_zip(zip_path(), "", scratch());
    EXPECT_EQ(zip.files.count(busy.substr(1)), 1u);
    EXPECT_EQ(zip.files[data().substr(1) + "/quiet.txt"], "quiet");
}

}  // namespace
}  // namespace vardel
