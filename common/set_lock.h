#pragma once
// The per-set lock that keeps two programs off one backup set: the service
// holds it for the run of a set, the restore tool while a set is loaded. A
// named mutex "lock_backup_%s" (platform::NamedMutex) with the set's name
// folded to lower case, as set names are compared without regard to case.
//
// A SetLock object holds the lock from acquire() until it is destroyed or
// released, so no exception can leave a set locked. One program holds at
// most one set lock: acquiring lets go of the lock held before (even when it
// is the same set, which is then taken afresh); the object that held it then
// holds nothing, and its destructor leaves the newer lock alone.
// When the holder dies, however it dies, the lock is free again: an
// abandoned mutex, which counts as acquired. Any thread; an object is used
// by one thread at a time.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vardel {

class SetLock {
  public:
    // The lock of `set_name`, now held by this program; none when another
    // program holds it or the lock cannot be made (this program then holds
    // no set lock).
    [[nodiscard]] static std::optional<SetLock> acquire(std::string_view set_name);

    SetLock(SetLock&& other) noexcept;
    SetLock& operator=(SetLock&& other) noexcept;
    SetLock(const SetLock&) = delete;
    SetLock& operator=(const SetLock&) = delete;
    ~SetLock();

    // Lets go early; nothing when a later acquire() already took over.
    void release();
    // True while this object's lock is the one the program holds.
    bool holds() const;
    const std::string& set_name() const { return set_name_; }

    // The set whose lock this program holds, "" when none.
    static std::string held();
    // "lock_backup_" and the folded name.
    static std::string mutex_name(std::string_view set_name);

  private:
    SetLock(uint64_t ticket, std::string set_name)
        : ticket_(ticket), set_name_(std::move(set_name)) {}

    uint64_t ticket_ = 0;  // which acquisition this is; 0 when moved from or released
    std::string set_name_;
};

}  // namespace vardel
