#include "vardeld/container_saver.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "common/log.h"
#include "common/my_error.h"
#include "common/text_helpers.h"
#include "containers/saf_writer.h"
#include "containers/zip_read_hook.h"
#include "containers/zip_writer.h"
#include "platform/file_info.h"

namespace vardel {

namespace fs = std::filesystem;

namespace {

constexpr size_t kCopyBlock = 16384;
constexpr size_t kKernelChunk = 1u << 20;

bool extension_is(const std::string& path, const char* ext) {
    std::string_view name = file_name_part(path);
    size_t dot = name.rfind('.');
    return dot != std::string_view::npos && iequals(name.substr(dot + 1), ext);
}

}  // namespace

ContainerSaver::ContainerSaver(BackupRun& run, const platform::Env& env, const std::string& output,
                               ArchiveFileMaker make_archive_file, unsigned workers)
    : run_(run),
      env_(env),
      archive_path_(run.set.SaveFormat == SAVE_DISCRETE ? std::string()
                                                        : run.destination_folder + output),
      files_folder_(run.set.SaveFormat == SAVE_DISCRETE ? run.destination_folder + output + "/"
                                                        : run.destination_folder),
      pool_(workers == 1   ? 0
            : workers == 0 ? platform::WorkPool::processors()
                           : workers),
      make_archive_file_(std::move(make_archive_file)),
      buf_a_(kCopyBlock),
      buf_b_(kCopyBlock) {
    if (run_.encode) stream_.set_key(run_.general.EncodingPassword);
    ahead_key_ = stream_;
}

ContainerSaver::~ContainerSaver() {
    discard();
}

void ContainerSaver::settle_ahead() {
    // Files opened ahead close with their results, and copies made ahead
    // are whole, before the output is closed or deleted.
    for (Ahead& a : ahead_)
        if (!a.batch->taken) a.batch->done.wait();
    ahead_.clear();
    ahead_bytes_ = 0;
    expected_.clear();
}

namespace {
// Files read ahead at most: enough to keep the workers busy, few enough
// that open files and memory stay bounded whatever the folder.
constexpr size_t kAheadFiles = 64;
constexpr uint64_t kAheadBytes = 16u << 20;
// Files and bytes of one worker task: small files go in runs, so that the
// hand-over costs less than their reading.
constexpr size_t kBatchFiles = 8;
constexpr uint64_t kBatchBytes = 256u << 10;
}  // namespace

std::vector<ContainerSaver::Opened>& ContainerSaver::Batch::results() {
    if (!taken) {
        opened = done.get();
        taken = true;
    }
    return opened;
}

bool ContainerSaver::opens_shared(const std::string& path) const {
    const GeneralSettings& g = run_.general;
    if (g.FileLockLevel != FILE_LOCK_EXCLUSIVE) return true;
    return g.SmartLocking && (extension_is(path, "exe") || extension_is(path, "dll"));
}

void ContainerSaver::expect(const std::string& path, const platform::FileInfo& info) {
    // Discrete copies are made ahead only where a file's place follows from
    // its path alone, and without encoding (the key's state is the backup
    // thread's).
    const bool copies = run_.set.SaveFormat == SAVE_DISCRETE && files_.is_open() && !run_.encode &&
                        roots_.size() < 2;
    if ((!saf_ && !zip_ && !copies) || pool_.threads() == 0) return;
    expected_.push_back({path, info});
    // Whole runs only: the rest starts when the first file is taken.
    if (expected_.size() >= kBatchFiles) read_ahead();
}

void ContainerSaver::pausing() {
    // Started again, in the same order, once the walk goes on.
    for (auto it = ahead_.rbegin(); it != ahead_.rend(); ++it) {
        if (!it->batch->taken) it->batch->done.wait();
        expected_.push_front(std::move(it->file));
    }
    ahead_.clear();
    ahead_bytes_ = 0;
}

void ContainerSaver::read_ahead() {
    // A new run starts when a whole one fits: runs of one file each would
    // bring back a hand-over per file.
    while (!expected_.empty() && ahead_.size() + kBatchFiles <= kAheadFiles &&
           ahead_bytes_ < kAheadBytes) {
        auto batch = std::make_shared<Batch>();
        std::vector<Expected> files;
        uint64_t bytes = 0;
        const std::string folder(folder_part(expected_.front().path));
        // The folder of their copies, made here (in walk order, as the copy
        // at their turn would make it) and held by the task.
        std::shared_ptr<platform::TargetFolder> target;
        if (!saf_ && !zip_) {
            std::string rel = relative_path(expected_.front().path);
            std::string_view name = file_name_part(rel);
            rel.resize(rel.size() - name.size() - (rel.size() > name.size() ? 1 : 0));
            const platform::TargetFolder* made = nullptr;
            try {
                made = copy_folder(rel);
            } catch (const MyError&) {
                made = nullptr;  // the copy at the file's turn meets it again
            }
            target = std::make_shared<platform::TargetFolder>();
            if (!made || !made->reopen(*target)) {
                // Copied at their turns, where a failure is reported.
                while (!expected_.empty() && folder_part(expected_.front().path) == folder)
                    expected_.pop_front();
                continue;
            }
        }
        while (!expected_.empty() && files.size() < kBatchFiles && bytes < kBatchBytes &&
               folder_part(expected_.front().path) == folder) {
            Ahead a;
            a.file = std::move(expected_.front());
            expected_.pop_front();
            a.size = std::min<uint64_t>(a.file.info.size, SafWriter::kPieceSize);
            a.batch = batch;
            a.index = files.size();
            bytes += a.size;
            ahead_bytes_ += a.size;
            files.push_back(a.file);
            ahead_.push_back(std::move(a));
        }
        batch->done = pool_.submit(
            [this, files = std::move(files), target] { return open_batch(files, target.get()); });
    }
}

std::unique_ptr<ContainerSaver::Opened> ContainerSaver::take_ahead(const std::string& path) {
    read_ahead();
    std::unique_ptr<Opened> found;
    while (!ahead_.empty()) {
        Ahead a = std::move(ahead_.front());
        ahead_.pop_front();
        ahead_bytes_ -= a.size;
        // One the walk skipped is let go (closed) with its batch.
        Opened& o = a.batch->results()[a.index];
        if (a.file.path == path) {
            found = std::make_unique<Opened>(std::move(o));
            break;
        }
    }
    if (!found) {
        while (!expected_.empty() && expected_.front().path != path) expected_.pop_front();
        if (!expected_.empty()) expected_.pop_front();
    }
    read_ahead();
    return found;
}

// On a worker: reads only what it was given and the run's settings and key,
// which stay as they are while the walk goes on.
std::vector<ContainerSaver::Opened> ContainerSaver::open_batch(
    const std::vector<Expected>& files, const platform::TargetFolder* target) const {
    std::vector<Opened> out;
    out.reserve(files.size());
    // Not opened: each file is opened by its full path instead.
    platform::File folder;
    if (!target)
        env_.open(folder, std::string(folder_part(files.front().path)), platform::OpenMode::Folder);
    const bool saf = run_.set.SaveFormat == SAVE_SAF;
    for (const Expected& e : files)
        out.push_back(target ? copy_ahead(e, *target)
                      : saf  ? open_ahead(folder, e)
                             : zip_ahead(folder, e));
    return out;
}

ContainerSaver::Opened ContainerSaver::copy_ahead(const Expected& e,
                                                  const platform::TargetFolder& target) const {
    Opened o;
    std::vector<char> buf(kCopyBlock);
    bool in_target = false;
    o.copied = copy_file(e.path, target, std::string(file_name_part(e.path)), nullptr, buf, nullptr,
                         in_target) == 0;
    return o;
}

bool ContainerSaver::open_for_reading(const platform::File& folder, const std::string& path,
                                      platform::File& file) const {
    if (!folder.is_open()) return env_.open(file, path, platform::OpenMode::Read);
    return env_.open_in(folder, std::string(file_name_part(path)), path, file,
                        platform::OpenMode::Read);
}

std::unique_ptr<uint8_t[]> ContainerSaver::read_whole(platform::File& file,
                                                      const platform::FileInfo& before) const {
    // The walk's stat stands for the state before the read; the one at the
    // file's turn in the archive, which must find the same file unchanged
    // (or the entry made here is not used), for the state after it.
    if (!before.is_regular()) return nullptr;
    std::unique_ptr<uint8_t[]> data(new uint8_t[before.size + 1]);
    // One byte more than the size: a file that grew is no whole copy. A
    // short first read (the end of the file) needs no second.
    ssize_t n = file.pread_once(data.get(), before.size + 1, 0);
    if (n < 0 || static_cast<uint64_t>(n) != before.size) return nullptr;
    return data;
}

ContainerSaver::Opened ContainerSaver::open_ahead(const platform::File& folder,
                                                  const Expected& e) const {
    Opened o;
    const std::string& path = e.path;
    if (!open_for_reading(folder, path, o.file)) {
        o.error = o.file.error();
        return o;
    }
    if (!opens_shared(path) && !o.file.lock_exclusive()) {
        o.error = o.file.error();
        o.file.close();
        return o;
    }
    // A byte-range lock comes after the open, on the backup thread: nothing
    // is read before it.
    if (run_.general.FileLockLevel == FILE_LOCK_READ || e.info.size > SafWriter::kPieceSize)
        return o;
    std::unique_ptr<uint8_t[]> data = read_whole(o.file, e.info);
    if (!data) return o;
    o.entry = std::make_unique<SafPreparedEntry>();
    o.entry->info = e.info;
    SafWriter::prepare_entry(data.get(), e.info.size, SafWriter::compresses(path),
                             run_.encode ? &ahead_key_ : nullptr, *o.entry);
    return o;
}

ContainerSaver::Opened ContainerSaver::zip_ahead(const platform::File& folder,
                                                 const Expected& e) const {
    Opened o;
    platform::File file;
    // Whatever goes wrong here, the writer's own open meets.
    if (e.info.size > ZipWriter::kWholeAtMost || !open_for_reading(folder, e.path, file)) return o;
    std::unique_ptr<uint8_t[]> data = read_whole(file, e.info);
    if (!data) return o;
    const uint64_t got = e.info.size;
    if (run_.encode) {
        PasswordStream key = ahead_key_;
        key.restart();
        key.encode(data.get(), static_cast<std::ptrdiff_t>(got));
    }
    o.zip_entry = std::make_unique<ZipPreparedEntry>();
    o.zip_entry->info = e.info;
    ZipWriter::prepare_entry(ZipWriter::entry_name(e.path), data.get(), got, *o.zip_entry);
    return o;
}

void ContainerSaver::sleep_seconds(int seconds) {
    if (seconds > 0) env_.sleep_for(std::chrono::seconds(seconds), &run_.flags.interrupt());
    run_.flags.check_abort("Abort during a wait to save a file\n");
}

bool ContainerSaver::open() {
    const platform::TargetFolder& dest = run_.destination;
    int err = 0;
    if (run_.set.SaveFormat == SAVE_SAF || run_.set.SaveFormat == SAVE_ZIP) {
        // A new file, created where nothing stands: a link planted at its
        // name is removed, never followed. Only its owner may read it: one
        // archive holds files of every account the service can read.
        std::string name(file_name_part(archive_path_));
        platform::File file;
        const bool saf = run_.set.SaveFormat == SAVE_SAF;
        if (dest.replace_file(name, file, 0600, &err)) {
            platform::FileInfo fi;
            if (platform::stat_descriptor(file.fd(), name, fi)) {
                archive_device_ = fi.device;
                archive_inode_ = fi.inode;
            }
            if (saf) {
                saf_ = std::make_unique<SafWriter>(make_archive_file_ ? make_archive_file_()
                                                                      : nullptr);
                if (!saf_->create_archive(std::move(file), archive_path_)) saf_.reset();
            } else {
                zip_ = ZipWriter::create(std::move(file), archive_path_);
            }
        }
        if (saf && !saf_) {
            run_.report.note(LOG_COMPLAIN, "Can't create SAF file %s", archive_path_.c_str());
            return false;
        }
        if (!saf && !zip_) {
            run_.report.note(LOG_COMPLAIN, "Can't create zip file %s", archive_path_.c_str());
            return false;
        }
        if (saf) {
            if (run_.encode)
                saf_->set_encoding(SafEncoding::PasswordStream, run_.general.EncodingPassword);
            saf_->set_progress_hook([this] { run_.flags.check_abort(); });
            saf_->set_work_pool(&pool_);
        } else {
            zip_->set_work_pool(&pool_);
        }
    } else if (run_.set.SaveFormat == SAVE_DISCRETE) {
        // The copies keep their files' own bits; the folder keeps them from
        // anyone the source folders kept them from.
        std::string name(file_name_part(files_folder_.substr(0, files_folder_.size() - 1)));
        platform::FileInfo fi;
        bool ok = dest.open_child(name, true, files_, &err, 0700) && files_.stat(fi, &err);
        // A folder someone else made there (between the slot's clearing and
        // now) is not the run's to fill.
        if (ok && fi.owner != ::geteuid()) {
            err = EPERM;
            ok = false;
        }
        if (!ok) {
            run_.report.note(LOG_COMPLAIN, "Can't create folder %s: %s", files_folder_.c_str(),
                             system_error_text(err));
            return false;
        }
    }
    return true;
}

bool ContainerSaver::close(std::string& error) {
    settle_ahead();
    bool ok = true;
    if (saf_) {
        if (!saf_->close_archive()) {
            int err = saf_->write_error();
            if (destination_full(err)) throw full_destination(run_, err);
            error = strprintf("Can't close SAF file %s: %s", archive_path_.c_str(),
                              saf_->error_text().c_str());
            ok = false;
        }
        saf_.reset();
    }
    if (zip_) {
        ZipResult r = zip_->close();
        if (r != ZR_OK) {
            if (destination_full(zip_->write_error()))
                throw full_destination(run_, zip_->write_error());
            char text[256];
            zip_->result_text(r, text, sizeof text);
            error = strprintf("Can't close zip file %s: %s", archive_path_.c_str(), text);
            ok = false;
        }
        zip_.reset();
    }
    if (run_.set.SaveFormat == SAVE_DISCRETE && files_.is_open()) {
        // One flush for all the copies, before the state records them: a
        // flush per file would cost more than the copying.
        int err = 0;
        if (!files_.sync_file_system(&err)) {
            error = strprintf("Can't write the copies in %s to disk: %s", files_folder_.c_str(),
                              system_error_text(err));
            ok = false;
        }
    }
    return ok;
}

void ContainerSaver::discard() {
    settle_ahead();
    if (saf_) saf_->close_archive();
    saf_.reset();
    if (zip_) zip_->close();
    zip_.reset();
}

void ContainerSaver::add_file_root(const std::string& file) {
    std::string folder(folder_part(file));
    if (folder.empty() || folder.back() != '/') folder.push_back('/');
    roots_.push_back({folder, file});
}

std::string ContainerSaver::root_of(const std::string& path) const {
    const Root* best = nullptr;
    for (const Root& r : roots_) {
        bool holds =
            r.file.empty() ? path.compare(0, r.folder.size(), r.folder) == 0 : path == r.file;
        if (holds && (!best || r.folder.size() > best->folder.size())) best = &r;
    }
    return best ? best->folder : run_.current_root;
}

std::string ContainerSaver::relative_path(const std::string& path) const {
    if (run_.set.SavePathInfo) return path.substr(path.empty() || path[0] != '/' ? 0 : 1);
    const std::string& root = run_.current_root;
    if (path.compare(0, root.size(), root) == 0) return path.substr(root.size());
    return std::string(file_name_part(path));
}

const platform::TargetFolder* ContainerSaver::copy_folder(const std::string& relative_folder) {
    if (relative_folder.empty()) return &files_;
    if (folder_open_ && relative_folder == folder_path_) return &folder_;
    folder_open_ = false;
    // One component at a time from the backup's own folder, each made for
    // its owner alone; a link met on the way is never followed.
    platform::TargetFolder next;
    const platform::TargetFolder* at = &files_;
    size_t start = 0;
    while (start < relative_folder.size()) {
        size_t slash = relative_folder.find('/', start);
        if (slash == std::string::npos) slash = relative_folder.size();
        std::string part = relative_folder.substr(start, slash - start);
        start = slash + 1;
        if (part.empty()) continue;
        if (part == "." || part == "..") {
            folder_error_ = EINVAL;
            return nullptr;
        }
        platform::TargetFolder child;
        if (!at->open_child(part, true, child, &folder_error_, 0700)) {
            if (destination_full(folder_error_)) throw full_destination(run_, folder_error_);
            return nullptr;
        }
        next = std::move(child);
        at = &next;
    }
    folder_ = std::move(next);
    folder_path_ = relative_folder;
    folder_open_ = true;
    return &folder_;
}

bool ContainerSaver::snapshot(const std::string& path, Snapshot& out, int* err,
                              platform::FileInfo* full) {
    platform::FileInfo fi;
    if (!env_.stat_following(path, fi, err)) return false;
    if (full) *full = fi;
    out.mtime_sec = fi.mtime_sec;
    out.mtime_nsec = fi.mtime_nsec;
    out.size = fi.size;
    return true;
}

bool ContainerSaver::save_file(const std::string& path, const platform::FileInfo& info) {
    log(LOG_DEBUG, "Save %s\n", path.c_str());
    // The walk's stat of a moment ago is the snapshot: a file gone since
    // shows at its open.
    std::unique_ptr<Opened> ahead = take_ahead(path);
    if (run_.general.RetryLockTimes < 1) run_.general.RetryLockTimes = 1;
    if (run_.general.FileChangeRetries < 1) run_.general.FileChangeRetries = 1;
    bool saved = false;
    switch (run_.set.SaveFormat) {
        case SAVE_SAF:
            saved = save_saf(path, info, std::move(ahead));
            break;
        case SAVE_ZIP:
            saved = save_zip(path, std::move(ahead));
            break;
        case SAVE_DISCRETE:
            saved = save_discrete(path, info, std::move(ahead));
            break;
        default:
            VARDEL_UNEXPECTED_SWITCH();
            break;
    }
    if (saved) ++run_.counters.files_saved;
    return saved;
}

bool ContainerSaver::is_output(const platform::FileInfo& info) const {
    return archive_inode_ != 0 && info.inode == archive_inode_ && info.device == archive_device_;
}

void ContainerSaver::record_empty_directory(const std::string& path) {
    ++run_.counters.empty_dirs;
    if (auto* d = run_.catalogue.find_dir(path)) d->flags |= DirectoryCatalogue::Seen;
    std::string bare = path;
    if (bare.size() > 1 && bare.back() == '/') bare.pop_back();
    if (saf_) {
        if (!saf_->add_directory_entry(bare)) {
            if (saf_->error_code() == saf::kWriteFailed) throw write_failed(saf_->write_error());
            log(LOG_COMPLAIN, "Couldn't SAF file %s: %s\n", bare.c_str(),
                saf_->error_text().c_str());
        }
    } else if (zip_) {
        ZipResult r = zip_->add_folder(bare);
        if (r != ZR_OK) {
            if (zip_->write_error()) throw write_failed(zip_->write_error());
            char text[256];
            zip_->result_text(r, text, sizeof text);
            log(LOG_COMPLAIN, "ZipAdd failed: %s (dir=%s)\n", text, bare.c_str());
        }
    } else if (run_.set.SaveFormat == SAVE_DISCRETE) {
        std::string rel = relative_path(path);
        while (!rel.empty() && rel.back() == '/') rel.pop_back();
        if (!copy_folder(rel))
            log(LOG_COMPLAIN, "Can't create folder %s: %s\n", (files_folder_ + rel).c_str(),
                system_error_text(folder_error_));
    }
}

MyError ContainerSaver::write_failed(int error_number) const {
    // The container itself cannot be written: no later file would fare
    // better, and a backup missing files must not be recorded as done.
    if (destination_full(error_number)) return full_destination(run_, error_number);
    return MyError(0, strprintf("Can't write the backup to %s: %s", run_.destination_folder.c_str(),
                                system_error_text(error_number ? error_number : EIO)));
}

// ---- discrete copies

namespace {
constexpr const char* kLocked = "locked by another program";
constexpr const char* kChanged = "it changed while it was read";
}  // namespace

bool ContainerSaver::copy_failed(int error_number) {
    copy_error_ = error_number ? error_number : EIO;
    return false;
}

bool ContainerSaver::copy_and_encode(const std::string& source,
                                     const platform::TargetFolder& folder,
                                     const std::string& name) {
    copy_error_ = 0;
    copy_error_in_target_ = false;
    stream_.restart();
    int err = copy_file(source, folder, name, run_.encode ? &stream_ : nullptr, buf_a_, &run_.flags,
                        copy_error_in_target_);
    return err == 0 || copy_failed(err);
}

int ContainerSaver::copy_file(const std::string& source, const platform::TargetFolder& folder,
                              const std::string& name, PasswordStream* key, std::vector<char>& buf,
                              const RunFlags* abort, bool& in_target) const {
    in_target = false;
    const std::string target = folder.path() + name;
    auto failed = [](int e) { return e ? e : EIO; };
    platform::File in, out;
    if (!env_.open(in, source, platform::OpenMode::Read)) return failed(in.error());
    platform::FileInfo fi;
    int err = 0;
    if (!platform::stat_descriptor(in.fd(), source, fi, &err)) {
        if (abort)
            log(LOG_COMPLAIN, "Can't stat file %s: %s\n", source.c_str(), system_error_text(err));
        return failed(err);
    }
    // An earlier attempt's copy may be read-only by now: it is replaced by a
    // new file, never opened for writing. The permission bits come last.
    if (!folder.replace_file(name, out, 0600, &err)) {
        in_target = true;
        return failed(err);
    }
    auto stop = [abort, this] {
        if (abort) abort->check_abort();
        return !abort && run_.flags.aborting();
    };
    try {
        // Plain copies are made inside the kernel, a chunk at a time with the
        // abort check before each; encoded ones go through the buffer.
        bool in_kernel = key == nullptr;
        uint64_t copied = 0;
        // Done at the size the stat gave: a file that grows meanwhile is
        // caught by the change check, as one that shrinks is. A size of 0
        // may stand for content made on reading: read until the end.
        while (in_kernel && (fi.size == 0 || copied < fi.size)) {
            if (stop()) return ECANCELED;
            ssize_t n = in.copy_to(out, kKernelChunk);
            if (n == 0) break;
            if (n > 0) {
                copied += static_cast<uint64_t>(n);
                continue;
            }
            int e = in.error();
            bool refused = e == EXDEV || e == EINVAL || e == ENOSYS || e == EOPNOTSUPP;
            if (!refused || in.position() != 0) {
                if (abort) log(LOG_ERROR, "Write failed on file: %s\n", target.c_str());
                // Either side may have failed; a full disk is the target's.
                in_target = destination_full(e);
                return failed(e);
            }
            in_kernel = false;
        }
        while (!in_kernel) {
            if (stop()) return ECANCELED;
            ssize_t n = in.read(buf.data(), buf.size());
            if (n < 0) return failed(in.error());
            if (n == 0) break;
            if (key) key->encode(buf.data(), n);
            if (!out.write_all(buf.data(), static_cast<size_t>(n))) {
                if (abort) log(LOG_ERROR, "Write failed on file: %s\n", target.c_str());
                in_target = true;
                return failed(out.error());
            }
        }
    } catch (const MyError&) {
        in.close();
        out.close();
        log(LOG_DEBUG, "rethrow after closing files in CopyAndEncode\n");
        throw;
    }
    // Set-id bits stay behind: a backup folder holds no programs that run as
    // someone else.
    out.set_mode(fi.mode & 0777);
    platform::set_descriptor_times(out.fd(), fi.times.last_access, fi.times.last_write);
    return 0;
}

bool ContainerSaver::compare_files(const std::string& source, const platform::TargetFolder& folder,
                                   const std::string& name) {
    platform::File a, b;
    // Reading the copy back must not spoil the access time it was given.
    if (!env_.open(a, source, platform::OpenMode::Read) ||
        !b.open_at(folder.fd(), name, platform::OpenMode::ReadKeepAccessTime))
        return false;
    stream_.restart();
    try {
        while (true) {
            run_.flags.check_abort();
            ssize_t na = a.read(buf_a_.data(), buf_a_.size());
            ssize_t nb = b.read(buf_b_.data(), buf_b_.size());
            if ((na < 0) != (nb < 0) || na != nb) return false;
            if (na < 0) return false;
            if (na == 0) return true;
            if (run_.encode) stream_.encode(buf_a_.data(), na);
            if (std::memcmp(buf_a_.data(), buf_b_.data(), static_cast<size_t>(na)) != 0)
                return false;
        }
    } catch (const MyError&) {
        a.close();
        b.close();
        log(LOG_DEBUG, "rethrow after close files in CompareFiles\n");
        throw;
    }
}

std::string ContainerSaver::discrete_target(const std::string& path) {
    std::string target = relative_path(path);
    // Two roots may hold the same relative name: the second copy goes below
    // its root's own folder name, so neither replaces the other. Under one
    // root every file has a place of its own, and a large tree need not
    // keep a name per file.
    if (roots_.size() < 2) return target;
    auto it = copied_.find(target);
    if (it == copied_.end() || it->second == path) return target;
    std::string root = run_.current_root;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    std::string aside = std::string(file_name_part(root)) + "/" + target;
    auto other = copied_.find(aside);
    if (other == copied_.end() || other->second == path) return aside;
    log(LOG_COMPLAIN, "Copy of %s would replace %s, the copy of %s\n", path.c_str(),
        (files_folder_ + aside).c_str(), other->second.c_str());
    run_.report.not_saved(
        path, strprintf("%s%s already holds the copy of %s", files_folder_.c_str(), aside.c_str(),
                        other->second.c_str()));
    return std::string();
}

bool ContainerSaver::save_discrete(const std::string& path, const platform::FileInfo& info,
                                   std::unique_ptr<Opened> ahead) {
    const GeneralSettings& g = run_.general;
    int attempts = g.FileChangeHandling != CHANGE_IGNORE ? g.FileChangeRetries : 1;
    const std::string rel = discrete_target(path);
    if (rel.empty()) return false;
    if (auto it = copied_.find(rel); it != copied_.end() && it->second == path)
        return true;  // the same file walked twice
    const std::string target = files_folder_ + rel;
    const std::string name(file_name_part(rel));
    const platform::TargetFolder* folder =
        copy_folder(rel.substr(0, rel.size() - name.size() - (rel.size() > name.size() ? 1 : 0)));
    if (!folder) {
        const char* why = system_error_text(folder_error_);
        log(LOG_COMPLAIN, "Copy failed: %s\n", why);
        run_.report.add_line(strprintf("Copy failed for %s: Error=%s", path.c_str(), why));
        run_.report.not_saved(path, why, Said::Already);
        return false;
    }
    // The copy made ahead stands for the first attempt's while the file is
    // still as the walk found it before the copy: the attempt would have
    // copied the same bytes.
    if (ahead && ahead->copied) {
        platform::FileInfo now;
        if (env_.stat_following(path, now) && now.unchanged_since(info)) {
            if (g.FileChangeHandling == CHANGE_IGNORE ||
                g.FileValidationLevel != VALIDATION_FULL_READBACK ||
                compare_files(path, *folder, name))
                return true;
        }
    }
    std::string reason;
    for (int i = 0; i < attempts; ++i) {
        Snapshot before, after;
        snapshot(path, before);
        if (!copy_and_encode(path, *folder, name)) {
            // A full destination fails the run: no later file would fit.
            if (copy_error_in_target_ && destination_full(copy_error_))
                throw full_destination(run_, copy_error_);
            const char* why = system_error_text(copy_error_);
            log(LOG_COMPLAIN, "Copy failed: %s\n", why);
            run_.report.add_line(strprintf("Copy failed for %s: Error=%s", path.c_str(), why));
            reason = why;
            continue;
        }
        if (g.FileChangeHandling != CHANGE_IGNORE) {
            if (!snapshot(path, after) || !(after == before)) {
                log(LOG_ALERT, "File changed during save\n");
                reason = kChanged;
                continue;
            }
            if (g.FileValidationLevel == VALIDATION_FULL_READBACK &&
                !compare_files(path, *folder, name)) {
                log(LOG_ALERT, "File validation failed!\n");
                reason = "its copy did not read back the same";
                continue;
            }
        }
        if (roots_.size() > 1) copied_.emplace(rel, path);
        return true;
    }
    // What the last attempt left (cut short, torn or unverified) is no
    // backup of the file: a restore must not take it for one.
    folder->remove_file(name);
    log(LOG_COMPLAIN, "Backup attempt failed for %s\n", path.c_str());
    run_.report.retry(path, reason);
    return false;
}

// ---- ZIP

bool ContainerSaver::save_zip(const std::string& path, std::unique_ptr<Opened> ahead) {
    Snapshot before;
    platform::FileInfo now;
    bool stat_ok = snapshot(path, before, nullptr, &now);
    // What was made ahead serves while the file is as it was read then.
    const ZipPreparedEntry* made = nullptr;
    if (stat_ok && ahead && ahead->zip_entry && ahead->zip_entry->ok &&
        now.unchanged_since(ahead->zip_entry->info))
        made = ahead->zip_entry.get();
    if (!ZipWriter::fits(before.size)) {
        log(LOG_COMPLAIN, "File '%s' is too large for zip file (4GB max)\n", path.c_str());
        run_.report.add_line(ZipWriter::too_large_text(path));
        run_.report.not_saved(path, "too large for a ZIP file (4GB max)", Said::Already);
        return false;
    }
    log(LOG_DEBUG, "ZipAdd %s\n", path.c_str());
    ZipReadHook hook(run_.flags.interrupt().flag(), run_.encode ? &stream_ : nullptr);
    ZipResult r = ZR_OK;
    try {
        r = made ? zip_->add_prepared(ZipWriter::entry_name(path), *made)
                 : zip_->add_file(ZipWriter::entry_name(path), path, hook);
        run_.flags.check_abort();
    } catch (const MyError& e) {
        run_.report.note(LOG_ERROR, "ZipAdd failed with error (%s) on file %s", e.message(),
                         path.c_str());
        if (!run_.flags.aborting()) run_.report.not_saved(path, e.message(), Said::Already);
        return false;
    }
    if (r != ZR_OK) {
        run_.flags.check_abort("throw abort after ZipAdd failure\n");
        if (zip_->write_error()) throw write_failed(zip_->write_error());
        char text[256];
        zip_->result_text(r, text, sizeof text);
        log(LOG_COMPLAIN, "ZipAdd failed: %s: (file=%s)\n", text, path.c_str());
        run_.report.not_saved(path, text);
        return false;
    }
    log(LOG_DEBUG, "ZR_OK\n");
    if (run_.general.FileChangeHandling != CHANGE_IGNORE) {
        Snapshot after;
        if (!snapshot(path, after) || !(after == before)) {
            log(LOG_ALERT, "File changed during backup\n");
            log(LOG_ALERT, "Backed-up file %s may be invalid\n", path.c_str());
            run_.report.not_saved(path, std::string(kChanged) + ": its entry may be invalid");
            return false;
        }
    }
    return true;
}

// ---- SAF

bool ContainerSaver::save_saf(const std::string& path, const platform::FileInfo& info,
                              std::unique_ptr<Opened> ahead) {
    const GeneralSettings& g = run_.general;
    bool shared = opens_shared(path);
    bool degraded = false;

    platform::File file;
    bool opened = false;
    for (int attempt = 0; attempt < g.RetryLockTimes;) {
        int err = 0;
        if (ahead) {
            // The first attempt, made ahead.
            err = ahead->error;
            if (err == 0) {
                file = std::move(ahead->file);
                opened = true;
                break;
            }
            ahead->entry.reset();
        } else if (env_.open(file, path, platform::OpenMode::Read)) {
            if (shared || file.lock_exclusive()) {
                opened = true;
                break;
            }
            err = file.error();
            file.close();
        } else {
            err = file.error();
        }
        ahead.reset();
        if (err == ENOENT) {
            log(LOG_ALERT, "Couldn't find file %s\n", path.c_str());
            return false;
        }
        if (err != EWOULDBLOCK) {
            log(LOG_ALERT, "File open failed: %s\n", system_error_text(err));
            // A second try meets the same refusal.
            run_.report.not_saved(path, system_error_text(err));
            return false;
        }
        switch (g.LockFailureHandling) {
            case LOCK_FAILURE_WAIT:
                // No sleep after the last attempt: nothing follows it.
                if (++attempt < g.RetryLockTimes) sleep_seconds(g.WaitForLock);
                break;
            case LOCK_FAILURE_RETRY_LATER:
                log(LOG_DEBUG, "Exclusive lock failed for file %s\n", path.c_str());
                run_.report.retry(path, kLocked);
                return false;
            case LOCK_FAILURE_DEGRADE:
                if (!shared) {
                    log(LOG_DEBUG, "Exclusive lock failed -- degrade locking\n");
                    shared = true;
                    degraded = true;
                    break;  // again at once, not counted
                }
                log(LOG_INFO, "Couldn't lock file %s\n", path.c_str());
                run_.report.not_saved(path, kLocked);
                return false;
            default:
                log(LOG_INFO, "Couldn't lock file %s\n", path.c_str());
                run_.report.not_saved(path, kLocked);
                return false;
        }
    }
    if (!opened) {
        log(LOG_INFO, "Couldn't lock file %s\n", path.c_str());
        run_.report.not_saved(path, kLocked);
        return false;
    }

    if (g.FileLockLevel == FILE_LOCK_READ || degraded) {
        for (int attempt = 0; attempt < g.RetryLockTimes; ++attempt) {
            if (file.read_lock_whole()) break;
            if (g.LockFailureHandling == LOCK_FAILURE_WAIT) {
                if (attempt + 1 < g.RetryLockTimes) sleep_seconds(g.WaitForLock);
            } else if (g.LockFailureHandling == LOCK_FAILURE_RETRY_LATER) {
                log(LOG_INFO, "Couldn't read-lock file %s\n", path.c_str());
                run_.report.retry(path, kLocked);
                return false;
            } else if (g.LockFailureHandling == LOCK_FAILURE_DEGRADE) {
                log(LOG_DEBUG, "File degraded to no-lock\n");
            } else {
                log(LOG_INFO, "Couldn't lock file\n");
                run_.report.not_saved(path, kLocked);
                return false;
            }
        }
        // Attempts used up under Wait or Degrade Lock: saved without a lock.
    }

    bool check_change = g.FileChangeHandling == CHANGE_WAIT_AND_RETRY ||
                        g.FileChangeHandling == CHANGE_TRY_AGAIN_LATER;
    std::string reason = kChanged;
    try {
        for (int attempt = 0; attempt < g.FileChangeRetries; ++attempt) {
            Snapshot before, after;
            int err = 0;
            if (check_change && !snapshot(path, before, &err)) {
                log(LOG_ALERT, "Couldn't stat file %s\n", path.c_str());
                if (err != ENOENT) run_.report.not_saved(path, system_error_text(err));
                return false;
            }
            // A first attempt reads a file just opened, at its start; what was
            // read ahead serves it while the file is as it was then.
            const SafPreparedEntry* made = nullptr;
            if (attempt == 0 && ahead) made = ahead->entry.get();
            if (attempt > 0) file.seek(0);
            if (!saf_->open_file_entry(path, info) || !saf_->write_entry_data(file, made)) {
                // The archive itself cannot be written: the run cannot go on.
                if (saf_->error_code() == saf::kWriteFailed) {
                    int werr = saf_->write_error();
                    saf_->drop_entry();
                    throw write_failed(werr);
                }
                log(LOG_ALERT, "Couldn't SAF file %s: %s\n", path.c_str(),
                    saf_->error_text().c_str());
                std::string why = saf_->error_text();
                while (!why.empty() && why.back() == '\n') why.pop_back();
                saf_->drop_entry();
                run_.report.not_saved(path, why);
                return false;
            }
            if (check_change) {
                if (!snapshot(path, after, &err)) {
                    log(LOG_ALERT, "Couldn't stat file %s\n", path.c_str());
                    saf_->drop_entry();
                    if (err != ENOENT) run_.report.not_saved(path, system_error_text(err));
                    return false;
                }
                if (!(after == before)) {
                    log(LOG_INFO, "File changed\n");
                    saf_->drop_entry();
                    if (g.FileChangeHandling == CHANGE_TRY_AGAIN_LATER) {
                        run_.report.retry(path, kChanged);
                        return false;
                    }
                    if (attempt + 1 < g.FileChangeRetries) sleep_seconds(1);
                    continue;
                }
            }
            if (g.FileValidationLevel == VALIDATION_FULL_READBACK) {
                file.seek(0);
                if (!saf_->verify_entry(file)) {
                    saf_->drop_entry();
                    log(LOG_ALERT, "File verification failed\n");
                    reason = "its entry did not read back the same";
                    continue;
                }
            }
            saf_->close_entry();
            return true;
        }
    } catch (const MyError&) {
        log(LOG_DEBUG, "Rethrow after MySaf.WriteOpenFile fail\n");
        throw;
    }
    log(LOG_ALERT, "Save failed after all retries\n");
    run_.report.not_saved(path, reason);
    return false;
}

}  // namespace vardel
