#pragma once
// Saving one file into the run's container: the SAF archive (with locking,
// change checks and read-back as the suite-wide settings say), the ZIP
// archive, or a discrete copy in the backup's own folder; and recording
// empty directories. Outcomes go to the trace, the run's report and, for
// files worth a second try, the run's retry list.
//
// Work that can go on beside the archive's writing runs on worker threads:
// the pieces of large files, and the next files of a folder, read and
// compressed ahead (for SAF opened and locked as the first attempt would
// open them). What was read ahead is taken only while the file is
// unchanged since; the backup is the same whatever the number of workers.
//
// The saver owns its output: the archive's path, the folder of discrete
// copies (held open), and the archive's identity, so the walk never reads
// it into itself.
//
// One per run, on the backup thread (its workers touch only their own work).
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "containers/password_stream.h"
#include "containers/saf_writer.h"
#include "containers/zip_writer.h"
#include "platform/env.h"
#include "platform/file.h"
#include "platform/target_folder.h"
#include "platform/work_pool.h"
#include "vardeld/backup_run.h"
#include "vardeld/file_saver.h"

namespace vardel {

class ContainerSaver : public FileSaver {
  public:
    // Makes the file under the SAF writer; empty: the real file.
    using ArchiveFileMaker = std::function<std::unique_ptr<SafArchiveFile>()>;

    // `output`: the archive's name in the destination, or the name of the
    // folder of discrete copies; workers: threads beside the backup thread;
    // 1: none, 0: one per processor.
    ContainerSaver(BackupRun& run, const platform::Env& env, const std::string& output = {},
                   ArchiveFileMaker make_archive_file = {}, unsigned workers = 0);
    ~ContainerSaver() override;

    // Creates the SAF or ZIP archive of the run, or the folder of its
    // discrete copies (for its owner alone, as the archives are). False,
    // having logged and reported, when it cannot.
    bool open();
    // Closes the container for good (for discrete copies: flushes them to
    // disk); false with the reason in `error`.
    bool close(std::string& error);
    // Closes without regard to success (the output is about to be deleted).
    void discard();

    bool save_file(const std::string& path, const platform::FileInfo& info) override;
    void expect(const std::string& path, const platform::FileInfo& info) override;
    void pausing() override;
    platform::WorkPool* work_pool() override { return pool_.threads() ? &pool_ : nullptr; }
    void record_empty_directory(const std::string& path) override;
    bool is_output(const platform::FileInfo& info) const override;

    // The BackupDirs roots, so a file walked again in the second pass is
    // placed under the root it was first walked under: a folder (ending in
    // "/"), which holds every path below it, or a single file, which holds
    // only itself and is placed below its folder.
    void add_root(const std::string& folder) { roots_.push_back({folder, {}}); }
    void add_file_root(const std::string& file);
    // The root folder of the longest root holding `path`; the run's current
    // root when none does.
    std::string root_of(const std::string& path) const;

    // The discrete copy `name` in `folder` and its read-back. A failed copy
    // leaves its errno in copy_error().
    bool copy_and_encode(const std::string& source, const platform::TargetFolder& folder,
                         const std::string& name);
    int copy_error() const { return copy_error_; }
    bool compare_files(const std::string& source, const platform::TargetFolder& folder,
                       const std::string& name);

  private:
    // A file's first open attempt, made ahead on a worker: the open file
    // (locked when the attempt locks) or the attempt's errno, and the
    // entry's data when the file could be read whole and unchanged.
    // For ZIP, which opens the file itself, only the entry made from it.
    // For a discrete copy, only whether the copy was made whole (a failure
    // is met again, and reported, by the attempt at the file's turn).
    struct Opened {
        platform::File file;
        int error = 0;
        std::unique_ptr<SafPreparedEntry> entry;
        std::unique_ptr<ZipPreparedEntry> zip_entry;
        bool copied = false;
    };
    // A file the walk announced, with its stat from the walk.
    struct Expected {
        std::string path;
        platform::FileInfo info;
    };
    // Files read ahead together by one worker task: a run of consecutive
    // files of one folder, so that a small file costs no hand-over of its
    // own. Their results are taken out once, by the backup thread.
    struct Batch {
        std::future<std::vector<Opened>> done;
        std::vector<Opened> opened;
        bool taken = false;
        std::vector<Opened>& results();
    };
    struct Ahead {
        Expected file;
        uint64_t size = 0;  // held against the window
        std::shared_ptr<Batch> batch;
        size_t index = 0;
    };
    // Waits for everything started ahead and lets it go.
    void settle_ahead();
    // Starts reading ahead what the window allows.
    void read_ahead();
    // The first attempt made ahead for `path`, if any; those before it (the
    // walk skipped them) are let go.
    std::unique_ptr<Opened> take_ahead(const std::string& path);
    // On a worker: the first attempts for `files` (all in one folder), in
    // order; each opened relative to the folder, which is opened once.
    // Discrete copies go into `target`, the folder of their copies.
    std::vector<Opened> open_batch(const std::vector<Expected>& files,
                                   const platform::TargetFolder* target) const;
    // On a worker: opens, locks, reads and compresses as the first attempt
    // would. `folder`, when open, holds the file.
    Opened open_ahead(const platform::File& folder, const Expected& e) const;
    // On a worker: a ZIP entry made from the file when it can be read whole
    // and unchanged.
    Opened zip_ahead(const platform::File& folder, const Expected& e) const;
    // On a worker: the discrete copy of the file in `target`, made as the
    // first attempt would make it; nothing logged or reported.
    Opened copy_ahead(const Expected& e, const platform::TargetFolder& target) const;
    // On a worker: opens the file for reading, relative to `folder` when open.
    bool open_for_reading(const platform::File& folder, const std::string& path,
                          platform::File& file) const;
    // On a worker: the whole file, `before.size` bytes as the walk's stat
    // says, in a new buffer; null when it cannot be read so.
    std::unique_ptr<uint8_t[]> read_whole(platform::File& file,
                                          const platform::FileInfo& before) const;
    bool opens_shared(const std::string& path) const;

    struct Snapshot {
        int64_t mtime_sec = 0, mtime_nsec = 0;
        uint64_t size = 0;
        bool operator==(const Snapshot&) const = default;
    };
    using Said = RunReport::Said;
    bool snapshot(const std::string& path, Snapshot& out, int* err = nullptr,
                  platform::FileInfo* full = nullptr);
    std::string relative_path(const std::string& path) const;
    // Where a discrete copy of `path` goes, relative to the backup's folder;
    // empty (reported) when every place is taken by other files' copies.
    std::string discrete_target(const std::string& path);
    // The folder at `relative_folder` below the backup's own, made when
    // missing; null with folder_error_ set when it cannot be.
    const platform::TargetFolder* copy_folder(const std::string& relative_folder);
    bool copy_failed(int error_number);
    // The run's failure for a container that cannot be written.
    MyError write_failed(int error_number) const;

    bool save_saf(const std::string& path, const platform::FileInfo& info,
                  std::unique_ptr<Opened> ahead);
    bool save_zip(const std::string& path, std::unique_ptr<Opened> ahead);
    bool save_discrete(const std::string& path, const platform::FileInfo& info,
                       std::unique_ptr<Opened> ahead);
    // The copy of `source` as `name` in `folder`, encoded through `key` when
    // given, its permission bits and times set: 0, or the errno of what
    // failed, with *in_target set when the copy's side failed. `abort`: the
    // check between chunks (it throws to end the run); none on a worker,
    // where an abort only ends the copy (ECANCELED).
    int copy_file(const std::string& source, const platform::TargetFolder& folder,
                  const std::string& name, PasswordStream* key, std::vector<char>& buf,
                  const RunFlags* abort, bool& in_target) const;

    // Waits `seconds` unless the run is aborted meanwhile.
    void sleep_seconds(int seconds);

    BackupRun& run_;
    const platform::Env& env_;
    std::string archive_path_;  // empty for discrete copies
    std::string files_folder_;  // of discrete copies, else the destination; ends in "/"
    // The folder of the discrete copies, held open for the whole run as the
    // destination is.
    platform::TargetFolder files_;
    // The run's own archive (0 without one): never read into itself.
    dev_t archive_device_ = 0;
    ino_t archive_inode_ = 0;
    platform::WorkPool pool_;
    std::deque<Expected> expected_;  // announced, not yet started
    std::deque<Ahead> ahead_;        // started, in order
    uint64_t ahead_bytes_ = 0;
    ArchiveFileMaker make_archive_file_;
    PasswordStream stream_;
    PasswordStream ahead_key_;  // the workers' own, never changed once made
    std::unique_ptr<SafWriter> saf_;
    std::unique_ptr<ZipWriter> zip_;
    struct Root {
        std::string folder;  // ends in "/"
        std::string file;    // empty for a folder root
    };
    std::vector<Root> roots_;
    // Discrete copies written by this run: target -> source, so that no copy
    // silently replaces another.
    std::map<std::string, std::string> copied_;
    std::vector<char> buf_a_, buf_b_;
    int copy_error_ = 0;
    bool copy_error_in_target_ = false;  // the copy, not the source, failed
    // The folder of the last copy, kept open: files come folder by folder.
    platform::TargetFolder folder_;
    std::string folder_path_;
    bool folder_open_ = false;
    int folder_error_ = 0;
};

}  // namespace vardel
