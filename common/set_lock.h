#pragma once
// The per-set lock that keeps two programs off one backup set: the service
// holds it for the run of a set, the restore tool while it reads one. A
// named mutex "lock_backup_%s" (platform::NamedMutex) with the set's name
// folded to lower case, as set names are compared without regard to case.
//
// One program holds at most one set lock: acquiring first releases the lock
// held before (even when it is the same set, which is then taken afresh).
// When the holder dies, however it dies, the lock is free again: an
// abandoned mutex, which counts as acquired. Process-wide; any thread.
#include <string>
#include <string_view>

namespace vardel {

class SetLock {
  public:
    // True when the lock of `set_name` is now held by this program; false
    // when another program holds it or the lock cannot be made.
    static bool acquire(std::string_view set_name);
    // Releases the lock held, if any.
    static void release();
    // The set whose lock is held, "" when none.
    static std::string held();

    // "lock_backup_" and the folded name.
    static std::string mutex_name(std::string_view set_name);
};

}  // namespace vardel
