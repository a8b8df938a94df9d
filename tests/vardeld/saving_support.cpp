#include "tests/vardeld/saving_support.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/text_helpers.h"
#include "containers/password_stream.h"
#include "containers/saf_reader.h"
#include "containers/zip_reader.h"
#include "vardeld/run_flags.h"

namespace vardel::test {

namespace fs = std::filesystem;

// ---- WatchedArchiveFile

bool WatchedArchiveFile::write_at(const void* data, size_t length, uint64_t offset) {
    if (before_write) before_write(length);
    return SafArchiveFile::write_at(data, length, offset);
}

ssize_t WatchedArchiveFile::read_at(void* data, size_t length, uint64_t offset) {
    if (before_read) before_read(length);
    return SafArchiveFile::read_at(data, length, offset);
}

// ---- LockHolder

LockHolder::LockHolder(const std::string& file, int kinds, LetGo when) {
    if (::pipe(ready_) != 0 || ::pipe(go_) != 0) throw std::runtime_error("pipe failed");
    child_ = std::make_unique<BackgroundProcess>([&]() -> int {
        int fd = ::open(file.c_str(), O_RDWR);
        if (fd < 0) return 10;
        if ((kinds & Flock) && ::flock(fd, LOCK_EX) != 0) return 11;
        if (kinds & WriteLock) {
            struct flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            if (::fcntl(fd, F_SETLK, &fl) != 0) return 12;
        }
        int watch = -1;
        if (when == LetGo::AfterFirstAttempt) {
            watch = ::inotify_init1(0);
            if (watch < 0 || ::inotify_add_watch(watch, file.c_str(), IN_CLOSE_NOWRITE) < 0)
                return 13;
        }
        char c = 'r';
        if (::write(ready_[1], &c, 1) != 1) return 14;
        if (watch >= 0) {
            // Our own descriptor is open for writing: the first read-only
            // close is the other side's failed attempt.
            alignas(inotify_event) char buf[4096];
            ssize_t n = ::read(watch, buf, sizeof buf);
            (void)n;
        } else {
            ssize_t n = ::read(go_[0], &c, 1);
            (void)n;
        }
        return 0;  // the locks go with the process
    });
    char c = 0;
    if (::read(ready_[0], &c, 1) != 1 || c != 'r')
        throw std::runtime_error("lock holder did not start");
}

LockHolder::~LockHolder() {
    child_.reset();
    for (int fd : {ready_[0], ready_[1], go_[0], go_[1]})
        if (fd >= 0) ::close(fd);
}

void LockHolder::let_go() {
    char c = 'g';
    ssize_t n = ::write(go_[1], &c, 1);
    (void)n;
    child_->wait();
}

// ---- Appender

Appender::Appender(const std::string& file) {
    child_ = std::make_unique<BackgroundProcess>([&]() -> int {
        int fd = ::open(file.c_str(), O_WRONLY | O_APPEND);
        if (fd < 0) return 10;
        for (;;) {
            if (::write(fd, "+", 1) != 1) return 11;
            ::usleep(200);
        }
    });
}

void Appender::stop() {
    if (!running_) return;
    child_->signal(SIGKILL);
    child_->wait();
    running_ = false;
}

// ---- OpenCounter

OpenCounter::OpenCounter(const std::string& file) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0 || ::inotify_add_watch(fd_, file.c_str(), IN_OPEN | IN_CLOSE_NOWRITE) < 0)
        throw std::runtime_error("inotify failed");
}

OpenCounter::~OpenCounter() {
    if (fd_ >= 0) ::close(fd_);
}

int OpenCounter::opens() {
    alignas(inotify_event) char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0) break;
        for (char* p = buf; p < buf + n;) {
            auto* e = reinterpret_cast<inotify_event*>(p);
            if (e->mask & IN_OPEN) ++count_;
            p += sizeof(inotify_event) + e->len;
        }
    }
    return count_;
}

// ---- SavingTest

void SavingTest::SetUp() {
    ScratchTest::SetUp();
    saved_level_ = Logger::instance().min_level();
    Logger::instance().set_min_level(LOG_DEBUG);
    fs::create_directories(data());
    set.Name = "Saving";
    set.BackupDestination = dest();
    set.BackupDirs = data();
    // Small, so tests that wait stay short: WaitForLock 1 s is the unit.
    general.RetryLockTimes = 2;
    general.WaitForLock = 1;
}

void SavingTest::TearDown() {
    Logger::instance().set_min_level(saved_level_);
    if (HasFailure()) std::fprintf(stderr, "log:\n%s", logs.all().c_str());
    ScratchTest::TearDown();
}

int SavingTest::run_backup() {
    RunFlags flags;
    flags_in_run = &flags;
    Backup backup(set, general, flags, services, env ? *env : platform::Env::real());
    result = backup.run();
    flags_in_run = nullptr;
    report.clear();
    const std::string& r = backup.report().str();
    size_t start = 0;
    while (start <= r.size()) {
        size_t end = r.find("\r\n", start);
        if (end == std::string::npos) {
            report.push_back(r.substr(start));
            break;
        }
        report.push_back(r.substr(start, end - start));
        start = end + 2;
    }
    files_saved = static_cast<int64_t>(backup.state().counters.files_saved);
    last_cycle = static_cast<int>(backup.state().cycle);
    last_sequence = static_cast<int>(backup.state().sequence);
    retry_lock_times_after = backup.state().general.RetryLockTimes;
    file_change_retries_after = backup.state().general.FileChangeRetries;
    return result;
}

bool SavingTest::report_has(std::string_view line) const {
    for (const std::string& l : report)
        if (l == line) return true;
    return false;
}

std::vector<std::string> SavingTest::not_backed_up() const {
    std::vector<std::string> out;
    bool in = false;
    for (const std::string& l : report) {
        if (in) {
            if (l.empty()) break;
            out.push_back(l);
        } else if (l == "The following files could not be backed up:") {
            in = true;
        }
    }
    return out;
}

std::string SavingTest::output(const char* fmt, int cycle, int seq) const {
    if (cycle == 0) cycle = last_cycle;
    if (seq == 0) seq = last_sequence;
    return dest() + strprintf(fmt, cycle, seq);
}

std::string SavingTest::saf_path(int cycle, int seq) const {
    return output("/B%d_%d.SAF", cycle, seq);
}
std::string SavingTest::zip_path(int cycle, int seq) const {
    return output("/B%d_%d.ZIP", cycle, seq);
}
std::string SavingTest::copies(int cycle, int seq) const {
    return output("/B%d_%d", cycle, seq);
}

// ---- readers

std::string encoded(std::string bytes, const std::string& password) {
    PasswordStream s(password);
    s.encode(bytes.data(), static_cast<std::ptrdiff_t>(bytes.size()));
    return bytes;
}

Contents read_saf(const std::string& archive, const std::string& password,
                  const std::string& scratch) {
    Contents c;
    SafReader r;
    r.open(archive);
    if (!password.empty()) r.set_password(password);
    std::string target = scratch + "/saf-extract.tmp";
    for (uint32_t i = 0; i < r.entry_count(); ++i) {
        const SafEntry& e = r.entry(i);
        if (e.type == 2) {
            c.folders.insert(e.name);
        } else if (e.type == 1) {
            bool crc_ok = false;
            if (r.extract_entry(i, target, {}, &crc_ok) != SafExtractResult::Extracted)
                throw std::runtime_error("cannot extract " + e.name);
            if (!crc_ok) throw std::runtime_error("CRC mismatch for " + e.name);
            c.files[e.name] = read_whole_file(target);
            fs::remove(target);
        }
    }
    return c;
}

Contents read_zip(const std::string& archive, const std::string& password,
                  const std::string& scratch) {
    Contents c;
    ZipResult why = ZR_OK;
    std::unique_ptr<ZipReader> r = ZipReader::open(archive, &why);
    if (!r) throw std::runtime_error("cannot open " + archive);
    std::string target = scratch + "/zip-extract.tmp";
    for (size_t i = 0; i < r->entry_count(); ++i) {
        const ZipEntryInfo* e = r->entry(i);
        if (!e->name.empty() && e->name.back() == '/') {
            c.folders.insert(e->name);
            continue;
        }
        PasswordStream stream(password);
        ZipReader::BlockHook hook;
        if (!password.empty())
            hook = [&](void* data, size_t n) {
                stream.encode(data, static_cast<std::ptrdiff_t>(n));
            };
        if (r->extract(i, target, hook) != ZR_OK)
            throw std::runtime_error("cannot extract " + e->name);
        c.files[e->name] = read_whole_file(target);
        fs::remove(target);
    }
    return c;
}

Contents read_copies(const std::string& folder, const std::string& password) {
    Contents c;
    for (auto it = fs::recursive_directory_iterator(folder);
         it != fs::recursive_directory_iterator(); ++it) {
        std::string rel = it->path().string().substr(folder.size() + 1);
        if (it->is_directory()) {
            if (fs::is_empty(it->path())) c.folders.insert(rel);
            continue;
        }
        std::string bytes = read_whole_file(it->path().string());
        c.files[rel] = password.empty() ? bytes : encoded(bytes, password);
    }
    return c;
}

}  // namespace vardel::test
