#pragma once
// A named mutex shared between processes: the set lock "lock_backup_%s" and
// the tray's one-copy-per-session lock. An exclusive, non-blocking flock() on
// a file under runtime_subdir("locks") (its name escaped by
// object_file_name). The kernel drops the lock when its holder dies, however
// it dies: the next try_lock() then succeeds, which is how an abandoned mutex
// counts as acquired.
//
// The lock belongs to the open file, not to the process: two NamedMutex
// objects of one name exclude each other even in one process. The
// descriptor is close-on-exec, so commands the holder starts never inherit
// the lock. One object belongs to one thread at a time.
#include <string>
#include <string_view>

namespace vardel::platform {

// Shared: one lock for every account (a set's lock, taken by the root
// service and by a user's restore tool). ThisUser: a lock of this account's
// session alone (the tray's one copy), kept in its own private run folder so
// that another account can neither take it first nor plant its file.
enum class LockScope { Shared, ThisUser };

class NamedMutex {
  public:
    // Opens (creating when missing) the lock file; does not lock. Throws
    // std::system_error when the file can be neither created nor opened, or
    // (ThisUser) when it is not this account's own.
    explicit NamedMutex(std::string_view name, LockScope scope = LockScope::Shared);
    // Closing releases the lock.
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    const std::string& name() const { return name_; }
    const std::string& file_path() const { return path_; }

    // True when the lock is now held by this object (also when it held it
    // already); false when someone else holds it. Never waits. Throws
    // std::system_error on any other failure.
    bool try_lock();
    void unlock();
    bool owns() const { return owned_; }

  private:
    std::string name_;
    std::string path_;
    int fd_ = -1;
    bool owned_ = false;
};

}  // namespace vardel::platform
