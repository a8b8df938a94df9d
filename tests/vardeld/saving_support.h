#pragma once
// What the saving tests share: a fixture that runs a real Backup over real
// files with every log line captured, second processes that hold locks on a
// file or keep writing to it, and readers that turn each format's output
// back into path -> bytes.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/backup_set.h"
#include "common/general_settings.h"
#include "common/log.h"
#include "containers/saf_writer.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/scratch.h"
#include "tests/support/unwritable_folder.h"
#include "vardeld/backup.h"

namespace vardel::test {

// A file the SAF writer writes through, with a hook before every write and
// every read: a read means the writer is reading an entry back.
class WatchedArchiveFile : public SafArchiveFile {
  public:
    // Called with the length about to be written or read.
    std::function<void(size_t)> before_write;
    std::function<void(size_t)> before_read;
    bool write_at(const void* data, size_t length, uint64_t offset) override;
    ssize_t read_at(void* data, size_t length, uint64_t offset) override;
};

// A second process holding locks on a file: flock(LOCK_EX) (what an
// exclusive open meets), a POSIX write lock over the whole file (what a
// byte-range read lock meets), or both.
class LockHolder {
  public:
    enum Kind { Flock = 1, WriteLock = 2 };
    enum class LetGo {
        OnRequest,         // when let_go() is called
        AfterFirstAttempt  // once some other opener has closed the file again
    };
    LockHolder(const std::string& file, int kinds, LetGo when = LetGo::OnRequest);
    ~LockHolder();
    // Tells the holder to end, and waits until it has (its locks are gone).
    void let_go();

  private:
    int ready_[2] = {-1, -1};
    int go_[2] = {-1, -1};
    std::unique_ptr<BackgroundProcess> child_;
};

// A second process appending one byte to a file every 200 microseconds.
class Appender {
  public:
    explicit Appender(const std::string& file);
    // Kills it and waits: the file is quiet from then on.
    void stop();
    bool running() const { return running_; }

  private:
    std::unique_ptr<BackgroundProcess> child_;
    bool running_ = true;
};

// Counts the opens of one file by anyone (inotify; closes are watched too,
// or two opens in a row would come as one event).
class OpenCounter {
  public:
    explicit OpenCounter(const std::string& file);
    ~OpenCounter();
    int opens();

  private:
    int fd_ = -1;
    int count_ = 0;
};

class SavingTest : public ScratchTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the set once; keeps the report's lines and the run's state.
    int run_backup();
    bool report_has(std::string_view line) const;
    // The lines following "The following files could not be backed up:".
    std::vector<std::string> not_backed_up() const;

    std::string dest() const { return path("dest"); }
    std::string data() const { return path("data"); }
    // The output of (cycle, sequence); 0, 0: of the last run.
    std::string saf_path(int cycle = 0, int seq = 0) const;
    std::string zip_path(int cycle = 0, int seq = 0) const;
    std::string copies(int cycle = 0, int seq = 0) const;

    BackupSet set;
    GeneralSettings general;
    BackupServices services;
    const platform::Env* env = nullptr;  // the real system when null
    LogCapture logs;
    int result = 0;
    RunFlags* flags_in_run = nullptr;  // while run_backup() runs: a stop or a pause
    std::vector<std::string> report;
    int64_t files_saved = 0;
    int last_cycle = 0, last_sequence = 0;
    int64_t retry_lock_times_after = 0;
    int64_t file_change_retries_after = 0;

  private:
    std::string output(const char* fmt, int cycle, int seq) const;
    int saved_level_ = 0;
};

// The files of a SAF archive (full path -> plain bytes) and its folder entries.
struct Contents {
    std::map<std::string, std::string> files;
    std::set<std::string> folders;
};
Contents read_saf(const std::string& archive, const std::string& password,
                  const std::string& scratch);
// Entry names as stored (no leading "/"); folders end in "/". Decoded with
// the password stream from position 0 for every entry when a password is given.
Contents read_zip(const std::string& archive, const std::string& password,
                  const std::string& scratch);
// Paths relative to the folder; decoded as above.
Contents read_copies(const std::string& folder, const std::string& password);

std::string encoded(std::string bytes, const std::string& password);

}  // namespace vardel::test
