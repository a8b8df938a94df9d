#include "platform/named_event.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>
#include <utility>

#include "platform/object_name.h"
#include "platform/paths.h"

namespace vardel::platform {

namespace {

// The event file: magic, state, generation; little-endian, 16 bytes.
constexpr uint32_t kMagic = 0x45444156;  // "VADE"
constexpr size_t kRecordSize = 16;

using Clock = std::chrono::steady_clock;

[[noreturn]] void throw_errno(int err, const std::string& what) {
    throw std::system_error(err, std::generic_category(), what);
}

void put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void put64(unsigned char* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t get32(const unsigned char* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
uint64_t get64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// A fresh file starts at a random generation: an event file deleted and made
// again must not repeat the number a waiter saw last.
uint64_t random_generation() {
    uint64_t g = 0;
    if (getrandom(&g, sizeof g, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof g))
        g = static_cast<uint64_t>(Clock::now().time_since_epoch().count()) ^
            (static_cast<uint64_t>(getpid()) << 32);
    return g;
}

int flock_retry(int fd, int op) {
    int rc;
    do rc = ::flock(fd, op);
    while (rc != 0 && errno == EINTR);
    return rc;
}

}  // namespace

NamedEvent::NamedEvent(std::string_view name)
    : name_(name),
      dir_(runtime_subdir("events")),
      file_name_(object_file_name(name)),
      path_(dir_ + "/" + file_name_) {
    inotify_fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_fd_ < 0) throw_errno(errno, "inotify for event " + name_);
    try {
        watch();
        // Create-or-open: make the file when we may; waiting works without it.
        // An existing file is only read, so opening stirs no other waiter.
        struct stat st;
        bool whole = ::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                     st.st_size >= static_cast<off_t>(kRecordSize);
        int fd =
            whole ? -2 : ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            if (flock_retry(fd, LOCK_EX) == 0 && ::fstat(fd, &st) == 0 &&
                st.st_size < static_cast<off_t>(kRecordSize)) {
                unsigned char rec[kRecordSize] = {};
                put32(rec, kMagic);
                put64(rec + 8, random_generation());
                // A short write leaves a short file, which readers take as clear.
                [[maybe_unused]] ssize_t put = ::pwrite(fd, rec, kRecordSize, 0);
            }
            ::close(fd);
        } else if (fd == -1 && errno != EACCES && errno != EROFS && errno != EPERM) {
            throw_errno(errno, "event " + path_);
        }
        drain();  // our own creation of the file is no signal
        seen_generation_ = read_state().generation;
    } catch (...) {
        ::close(inotify_fd_);
        throw;
    }
}

NamedEvent::~NamedEvent() {
    if (inotify_fd_ >= 0) ::close(inotify_fd_);
}

NamedEvent::NamedEvent(NamedEvent&& other) noexcept
    : name_(std::move(other.name_)),
      dir_(std::move(other.dir_)),
      file_name_(std::move(other.file_name_)),
      path_(std::move(other.path_)),
      inotify_fd_(std::exchange(other.inotify_fd_, -1)),
      watch_(std::exchange(other.watch_, -1)),
      seen_generation_(other.seen_generation_) {}

NamedEvent& NamedEvent::operator=(NamedEvent&& other) noexcept {
    if (this != &other) {
        if (inotify_fd_ >= 0) ::close(inotify_fd_);
        name_ = std::move(other.name_);
        dir_ = std::move(other.dir_);
        file_name_ = std::move(other.file_name_);
        path_ = std::move(other.path_);
        inotify_fd_ = std::exchange(other.inotify_fd_, -1);
        watch_ = std::exchange(other.watch_, -1);
        seen_generation_ = other.seen_generation_;
    }
    return *this;
}

void NamedEvent::watch() {
    // The folder, not the file: a waiter may come before the file exists,
    // and a file made again after a clean-up is still seen.
    watch_ = ::inotify_add_watch(inotify_fd_, dir_.c_str(),
                                 IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
    if (watch_ < 0) throw_errno(errno, "watch " + dir_);
}

NamedEvent::State NamedEvent::read_state() const {
    State s;
    int fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return s;
    unsigned char rec[kRecordSize];
    ssize_t got = -1;
    if (flock_retry(fd, LOCK_SH) == 0) got = ::pread(fd, rec, kRecordSize, 0);
    ::close(fd);
    if (got == static_cast<ssize_t>(kRecordSize) && get32(rec) == kMagic) {
        s.set = get32(rec + 4) != 0;
        s.generation = get64(rec + 8);
    }
    return s;
}

void NamedEvent::write_state(bool set, bool advance) {
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) throw_errno(errno, "event " + path_);
    if (flock_retry(fd, LOCK_EX) != 0) {
        int err = errno;
        ::close(fd);
        throw_errno(err, "lock event " + path_);
    }
    unsigned char rec[kRecordSize] = {};
    ssize_t got = ::pread(fd, rec, kRecordSize, 0);
    uint64_t generation = got == static_cast<ssize_t>(kRecordSize) && get32(rec) == kMagic
                              ? get64(rec + 8)
                              : random_generation();
    bool was_set = got == static_cast<ssize_t>(kRecordSize) && get32(rec + 4) != 0;
    if (!advance && was_set == set && got == static_cast<ssize_t>(kRecordSize)) {
        ::close(fd);  // nothing changes: wake nobody
        return;
    }
    if (advance) ++generation;
    put32(rec, kMagic);
    put32(rec + 4, set ? 1 : 0);
    put64(rec + 8, generation);
    ssize_t put = ::pwrite(fd, rec, kRecordSize, 0);
    int err = errno;
    ::close(fd);
    if (put != static_cast<ssize_t>(kRecordSize))
        throw_errno(put < 0 ? err : ENOSPC, "event " + path_);
}

void NamedEvent::set() {
    write_state(true, true);
}
void NamedEvent::reset() {
    write_state(false, false);
}
void NamedEvent::pulse() {
    write_state(false, true);
}

bool NamedEvent::is_set() const {
    return read_state().set;
}

void NamedEvent::drain() {
    alignas(inotify_event) char buf[4096];
    bool gone = false;
    for (;;) {
        ssize_t n = ::read(inotify_fd_, buf, sizeof buf);
        if (n <= 0) break;
        for (char* p = buf; p < buf + n;) {
            auto* ev = reinterpret_cast<inotify_event*>(p);
            if (ev->mask & IN_IGNORED) gone = true;
            p += sizeof(inotify_event) + ev->len;
        }
    }
    if (gone) {
        // The folder was removed (a clean-up of the run folder): make it again.
        try {
            dir_ = runtime_subdir("events");
            watch();
        } catch (const std::system_error&) {
            watch_ = -1;
        }
    }
}

bool NamedEvent::take_signal() {
    State s = read_state();
    bool moved = s.generation != seen_generation_;
    seen_generation_ = s.generation;
    return moved || s.set;
}

NamedEvent::WaitResult NamedEvent::wait(std::chrono::milliseconds timeout) {
    const bool forever = timeout.count() < 0;
    const auto deadline = Clock::now() + (forever ? std::chrono::milliseconds(0) : timeout);
    for (;;) {
        drain();
        // The watch is in place before the state is read, so a change after
        // this read makes the descriptor readable: no wake-up is lost.
        if (take_signal()) return WaitResult::Signalled;
        int wait_ms = -1;
        if (!forever) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return WaitResult::TimedOut;
            wait_ms = left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
        }
        if (watch_ < 0) {
            // No folder to watch: look again now and then.
            if (wait_ms < 0 || wait_ms > 200) wait_ms = 200;
        }
        pollfd p{inotify_fd_, POLLIN, 0};
        int rc = ::poll(&p, 1, wait_ms);
        if (rc < 0 && errno != EINTR) throw_errno(errno, "wait for event " + name_);
    }
}

bool NamedEvent::consume() {
    drain();
    State s = read_state();
    bool moved = s.generation != seen_generation_;
    seen_generation_ = s.generation;
    return moved;
}

}  // namespace vardel::platform
