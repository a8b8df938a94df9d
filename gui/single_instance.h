#pragma once
// One copy of a program at a time (per name): a named mutex held for the
// program's life. A copy that dies leaves the lock free for the next one.
#include <memory>
#include <string>

namespace vardel::platform {
class NamedMutex;
}

namespace vardel::gui {

class SingleInstance {
  public:
    // Tries the lock `name` (e.g. "unique_vardelnotify_3") once, without waiting.
    explicit SingleInstance(const std::string& name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another copy holds the lock (or it could not be made).
    bool first() const { return held_; }
    // The lock could not be made at all (no run folder, no permission).
    bool failed() const { return failed_; }

  private:
    std::unique_ptr<platform::NamedMutex> lock_;
    bool held_ = false;
    bool failed_ = false;
};

}  // namespace vardel::gui
