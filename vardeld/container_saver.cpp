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

ContainerSaver::ContainerSaver(BackupRun& run, const platform::Env& env,
                               ArchiveFileMaker make_archive_file)
    : run_(run),
      env_(env),
      make_archive_file_(std::move(make_archive_file)),
      buf_a_(kCopyBlock),
      buf_b_(kCopyBlock) {
    if (run_.encode) stream_.set_key(run_.general.EncodingPassword);
}

ContainerSaver::~ContainerSaver() {
    discard();
}

void ContainerSaver::sleep_seconds(int seconds) {
    if (seconds > 0) env_.sleep_for(std::chrono::seconds(seconds), &run_.flags.interrupt());
    run_.flags.check_abort("Abort during a wait to save a file\n");
}

bool ContainerSaver::open() {
    if (run_.set.SaveFormat == SAVE_SAF) {
        saf_ = std::make_unique<SafWriter>(make_archive_file_ ? make_archive_file_() : nullptr);
        if (!saf_->create_archive(run_.archive_path)) {
            run_.report.note(LOG_COMPLAIN, "Can't create SAF file %s", run_.archive_path.c_str());
            saf_.reset();
            return false;
        }
        restrict_archive();
        if (run_.encode)
            saf_->set_encoding(SafEncoding::PasswordStream, run_.general.EncodingPassword);
        saf_->set_progress_hook([this] { run_.flags.check_abort(); });
    } else if (run_.set.SaveFormat == SAVE_ZIP) {
        zip_ = ZipWriter::create(run_.archive_path);
        if (!zip_) {
            run_.report.note(LOG_COMPLAIN, "Can't create zip file %s", run_.archive_path.c_str());
            return false;
        }
        restrict_archive();
    } else if (run_.set.SaveFormat == SAVE_DISCRETE) {
        // The copies keep their files' own bits; the folder keeps them from
        // anyone the source folders kept them from.
        std::error_code ec;
        if (make_private_folders(run_.files_folder, ec))
            fs::permissions(run_.files_folder, fs::perms::owner_all, fs::perm_options::replace, ec);
        if (ec) {
            std::string why = ec.message();
            run_.report.note(LOG_COMPLAIN, "Can't create folder %s: %s", run_.files_folder.c_str(),
                             why.c_str());
            return false;
        }
    }
    return true;
}

bool ContainerSaver::make_private_folders(std::string folder, std::error_code& ec) {
    ec.clear();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.empty() || fs::is_directory(folder, ec)) return true;
    ec.clear();
    std::string parent(folder_part(folder));
    if (parent.size() < folder.size() && !make_private_folders(parent, ec)) return false;
    if (fs::create_directory(folder, ec))
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    return !ec;
}

void ContainerSaver::restrict_archive() {
    // One archive holds files of every account the service can read: only
    // its owner may read it, as each discrete copy keeps its file's own bits.
    std::error_code ec;
    fs::permissions(run_.archive_path, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace, ec);
}

bool ContainerSaver::close(std::string& error) {
    bool ok = true;
    if (saf_) {
        if (!saf_->close_archive()) {
            error = strprintf("Can't close SAF file %s: %s", run_.archive_path.c_str(),
                              saf_->error_text().c_str());
            ok = false;
        }
        saf_.reset();
    }
    if (zip_) {
        ZipResult r = zip_->close();
        if (r != ZR_OK) {
            char text[256];
            zip_->result_text(r, text, sizeof text);
            error = strprintf("Can't close zip file %s: %s", run_.archive_path.c_str(), text);
            ok = false;
        }
        zip_.reset();
    }
    if (run_.set.SaveFormat == SAVE_DISCRETE) {
        // One flush for all the copies, before the state records them: a
        // flush per file would cost more than the copying.
        int err = 0;
        if (!platform::sync_file_system(run_.files_folder, &err)) {
            error = strprintf("Can't write the copies in %s to disk: %s", run_.files_folder.c_str(),
                              system_error_text(err));
            ok = false;
        }
    }
    return ok;
}

void ContainerSaver::discard() {
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

bool ContainerSaver::snapshot(const std::string& path, Snapshot& out, int* err) {
    platform::FileInfo fi;
    if (!env_.stat_following(path, fi, err)) return false;
    out.mtime_sec = fi.mtime_sec;
    out.mtime_nsec = fi.mtime_nsec;
    out.size = fi.size;
    return true;
}

bool ContainerSaver::save_file(const std::string& path) {
    ++run_.counters.files_saved;
    log(LOG_DEBUG, "Save %s\n", path.c_str());
    Snapshot snap;
    int err = 0;
    if (!snapshot(path, snap, &err)) {
        run_.report.note(LOG_COMPLAIN, "Can't stat file %s: %s", path.c_str(),
                         system_error_text(err));
        return false;
    }
    if (run_.general.RetryLockTimes < 1) run_.general.RetryLockTimes = 1;
    if (run_.general.FileChangeRetries < 1) run_.general.FileChangeRetries = 1;
    switch (run_.set.SaveFormat) {
        case SAVE_SAF:
            return save_saf(path);
        case SAVE_ZIP:
            return save_zip(path);
        case SAVE_DISCRETE:
            return save_discrete(path);
        default:
            VARDEL_UNEXPECTED_SWITCH();
            return false;
    }
}

void ContainerSaver::record_empty_directory(const std::string& path) {
    ++run_.counters.empty_dirs;
    if (auto* d = run_.catalogue.find_dir(path)) d->flags |= DirectoryCatalogue::Seen;
    std::string bare = path;
    if (bare.size() > 1 && bare.back() == '/') bare.pop_back();
    if (saf_) {
        if (!saf_->add_directory_entry(bare))
            log(LOG_COMPLAIN, "Couldn't SAF file %s: %s\n", bare.c_str(),
                saf_->error_text().c_str());
    } else if (zip_) {
        ZipResult r = zip_->add_folder(bare);
        if (r != ZR_OK) {
            char text[256];
            zip_->result_text(r, text, sizeof text);
            log(LOG_COMPLAIN, "ZipAdd failed: %s (dir=%s)\n", text, bare.c_str());
        }
    } else if (run_.set.SaveFormat == SAVE_DISCRETE) {
        std::error_code ec;
        if (!make_private_folders(run_.files_folder + relative_path(path), ec))
            log(LOG_COMPLAIN, "Can't create folder %s: %s\n",
                (run_.files_folder + relative_path(path)).c_str(), ec.message().c_str());
    }
}

// ---- discrete copies

bool ContainerSaver::copy_failed(int error_number) {
    copy_error_ = error_number ? error_number : EIO;
    return false;
}

bool ContainerSaver::copy_and_encode(const std::string& source, const std::string& target) {
    copy_error_ = 0;
    platform::File in, out;
    if (!env_.open(in, source, platform::OpenMode::Read)) return copy_failed(in.error());
    platform::FileInfo fi;
    int err = 0;
    if (!platform::stat_descriptor(in.fd(), source, fi, &err)) {
        log(LOG_COMPLAIN, "Can't stat file %s: %s\n", source.c_str(), system_error_text(err));
        return copy_failed(err);
    }
    // An earlier attempt's copy may be read-only by now: it is replaced by a
    // new file, never opened for writing. The permission bits come last.
    std::error_code ec;
    fs::remove(target, ec);
    if (!out.open(target, platform::OpenMode::CreateReplaceNoFollow, 0600))
        return copy_failed(out.error());
    stream_.restart();
    try {
        // Plain copies are made inside the kernel, a chunk at a time with the
        // abort check before each; encoded ones go through the buffer.
        bool in_kernel = !run_.encode;
        while (in_kernel) {
            run_.flags.check_abort();
            ssize_t n = in.copy_to(out, kKernelChunk);
            if (n == 0) break;
            if (n > 0) continue;
            int e = in.error();
            bool refused = e == EXDEV || e == EINVAL || e == ENOSYS || e == EOPNOTSUPP;
            if (!refused || in.position() != 0) {
                log(LOG_ERROR, "Write failed on file: %s\n", target.c_str());
                return copy_failed(e);
            }
            in_kernel = false;
        }
        while (!in_kernel) {
            run_.flags.check_abort();
            ssize_t n = in.read(buf_a_.data(), buf_a_.size());
            if (n < 0) return copy_failed(in.error());
            if (n == 0) break;
            if (run_.encode) stream_.encode(buf_a_.data(), n);
            if (!out.write_all(buf_a_.data(), static_cast<size_t>(n))) {
                log(LOG_ERROR, "Write failed on file: %s\n", target.c_str());
                return copy_failed(out.error());
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
    return true;
}

bool ContainerSaver::compare_files(const std::string& source, const std::string& target) {
    platform::File a, b;
    // Reading the copy back must not spoil the access time it was given.
    if (!env_.open(a, source, platform::OpenMode::Read) ||
        !b.open(target, platform::OpenMode::ReadKeepAccessTime))
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

bool ContainerSaver::save_discrete(const std::string& path) {
    const GeneralSettings& g = run_.general;
    int attempts = g.FileChangeHandling != CHANGE_IGNORE ? g.FileChangeRetries : 1;
    std::string target = run_.files_folder + relative_path(path);
    // Two roots may hold the same relative name, or overlap: the second copy
    // must not replace the first. A second try would meet the same copy.
    // Under one root every file has a target of its own, and a large tree
    // need not keep a name per file.
    const bool track = roots_.size() > 1;
    if (auto it = copied_.find(target); track && it != copied_.end()) {
        if (it->second == path) return true;  // the same file walked twice
        log(LOG_COMPLAIN, "Copy of %s would replace %s, the copy of %s\n", path.c_str(),
            target.c_str(), it->second.c_str());
        run_.report.add_line(strprintf("Copy failed for %s: %s already holds the copy of %s",
                                       path.c_str(), target.c_str(), it->second.c_str()));
        run_.report.given_up.add_line(path);
        return false;
    }
    std::error_code ec;
    for (int i = 0; i < attempts; ++i) {
        Snapshot before, after;
        snapshot(path, before);
        make_private_folders(std::string(folder_part(target)), ec);
        if (!copy_and_encode(path, target)) {
            const char* why = system_error_text(copy_error_);
            log(LOG_COMPLAIN, "Copy failed: %s\n", why);
            run_.report.add_line(strprintf("Copy failed for %s: Error=%s", path.c_str(), why));
            continue;
        }
        if (g.FileChangeHandling != CHANGE_IGNORE) {
            if (!snapshot(path, after) || !(after == before)) {
                log(LOG_ALERT, "File changed during save\n");
                continue;
            }
            if (g.FileValidationLevel == VALIDATION_FULL_READBACK && !compare_files(path, target)) {
                log(LOG_ALERT, "File validation failed!\n");
                continue;
            }
        }
        if (track) copied_.emplace(target, path);
        return true;
    }
    // What the last attempt left (cut short, torn or unverified) is no
    // backup of the file: a restore must not take it for one.
    fs::remove(target, ec);
    log(LOG_COMPLAIN, "Backup attempt failed for %s\n", path.c_str());
    run_.report.retry_list.add_line(path);
    return false;
}

// ---- ZIP

bool ContainerSaver::save_zip(const std::string& path) {
    Snapshot before;
    snapshot(path, before);
    if (!ZipWriter::fits(before.size)) {
        log(LOG_COMPLAIN, "File '%s' is too large for zip file (4GB max)\n", path.c_str());
        run_.report.add_line(ZipWriter::too_large_text(path));
        return false;
    }
    log(LOG_DEBUG, "ZipAdd %s\n", path.c_str());
    ZipReadHook hook(run_.flags.interrupt().flag(), run_.encode ? &stream_ : nullptr);
    ZipResult r = ZR_OK;
    try {
        r = zip_->add_file(ZipWriter::entry_name(path), path, hook);
        run_.flags.check_abort();
    } catch (const MyError& e) {
        run_.report.note(LOG_ERROR, "ZipAdd failed with error (%s) on file %s", e.message(),
                         path.c_str());
        return false;
    }
    if (r != ZR_OK) {
        run_.flags.check_abort("throw abort after ZipAdd failure\n");
        char text[256];
        zip_->result_text(r, text, sizeof text);
        log(LOG_COMPLAIN, "ZipAdd failed: %s: (file=%s)\n", text, path.c_str());
        return false;
    }
    log(LOG_DEBUG, "ZR_OK\n");
    if (run_.general.FileChangeHandling != CHANGE_IGNORE) {
        Snapshot after;
        if (!snapshot(path, after) || !(after == before)) {
            log(LOG_ALERT, "File changed during backup\n");
            log(LOG_ALERT, "Backed-up file %s may be invalid\n", path.c_str());
            return false;
        }
    }
    return true;
}

// ---- SAF

bool ContainerSaver::save_saf(const std::string& path) {
    const GeneralSettings& g = run_.general;
    bool shared = g.SmartLocking && (extension_is(path, "exe") || extension_is(path, "dll"));
    if (g.FileLockLevel != FILE_LOCK_EXCLUSIVE) shared = true;
    bool degraded = false;

    platform::File file;
    bool opened = false;
    for (int attempt = 0; attempt < g.RetryLockTimes;) {
        int err = 0;
        if (env_.open(file, path, platform::OpenMode::Read)) {
            if (shared || file.lock_exclusive()) {
                opened = true;
                break;
            }
            err = file.error();
            file.close();
        } else {
            err = file.error();
        }
        if (err == ENOENT) {
            log(LOG_ALERT, "Couldn't find file %s\n", path.c_str());
            return false;
        }
        if (err != EWOULDBLOCK) {
            log(LOG_ALERT, "File open failed: %s\n", system_error_text(err));
            // A second try meets the same refusal; the report names the file.
            run_.report.given_up.add_line(path);
            return false;
        }
        switch (g.LockFailureHandling) {
            case LOCK_FAILURE_WAIT:
                // No sleep after the last attempt: nothing follows it.
                if (++attempt < g.RetryLockTimes) sleep_seconds(g.WaitForLock);
                break;
            case LOCK_FAILURE_RETRY_LATER:
                log(LOG_DEBUG, "Exclusive lock failed for file %s\n", path.c_str());
                run_.report.retry_list.add_line(path);
                return false;
            case LOCK_FAILURE_DEGRADE:
                if (!shared) {
                    log(LOG_DEBUG, "Exclusive lock failed -- degrade locking\n");
                    shared = true;
                    degraded = true;
                    break;  // again at once, not counted
                }
                log(LOG_INFO, "Couldn't lock file %s\n", path.c_str());
                return false;
            default:
                log(LOG_INFO, "Couldn't lock file %s\n", path.c_str());
                return false;
        }
    }
    if (!opened) {
        log(LOG_INFO, "Couldn't lock file %s\n", path.c_str());
        return false;
    }

    if (g.FileLockLevel == FILE_LOCK_READ || degraded) {
        for (int attempt = 0; attempt < g.RetryLockTimes; ++attempt) {
            if (file.read_lock_whole()) break;
            if (g.LockFailureHandling == LOCK_FAILURE_WAIT) {
                if (attempt + 1 < g.RetryLockTimes) sleep_seconds(g.WaitForLock);
            } else if (g.LockFailureHandling == LOCK_FAILURE_RETRY_LATER) {
                log(LOG_INFO, "Couldn't read-lock file %s\n", path.c_str());
                run_.report.retry_list.add_line(path);
                return false;
            } else if (g.LockFailureHandling == LOCK_FAILURE_DEGRADE) {
                log(LOG_DEBUG, "File degraded to no-lock\n");
            } else {
                log(LOG_INFO, "Couldn't lock file\n");
                return false;
            }
        }
        // Attempts used up under Wait or Degrade Lock: saved without a lock.
    }

    bool check_change = g.FileChangeHandling == CHANGE_WAIT_AND_RETRY ||
                        g.FileChangeHandling == CHANGE_TRY_AGAIN_LATER;
    try {
        for (int attempt = 0; attempt < g.FileChangeRetries; ++attempt) {
            Snapshot before, after;
            if (check_change && !snapshot(path, before)) {
                log(LOG_ALERT, "Couldn't stat file %s\n", path.c_str());
                return false;
            }
            file.seek(0);
            if (!saf_->open_file_entry(path) || !saf_->write_entry_data(file)) {
                log(LOG_ALERT, "Couldn't SAF file %s: %s\n", path.c_str(),
                    saf_->error_text().c_str());
                saf_->drop_entry();
                return false;
            }
            if (check_change) {
                if (!snapshot(path, after)) {
                    log(LOG_ALERT, "Couldn't stat file %s\n", path.c_str());
                    saf_->drop_entry();
                    return false;
                }
                if (!(after == before)) {
                    log(LOG_INFO, "File changed\n");
                    saf_->drop_entry();
                    if (g.FileChangeHandling == CHANGE_TRY_AGAIN_LATER) {
                        run_.report.retry_list.add_line(path);
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
    return false;
}

}  // namespace vardel
