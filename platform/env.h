#pragma once
// The one seam for what the operating system decides, after LevelDB's Env:
// the wall and steady clocks, sleeps that an Interrupt cuts short, stat and
// open of a file, the walk of a folder, and hook commands. Logic that tests
// must control or fail takes an Env by reference; programs pass Env::real().
// A test derives from EnvWrapper and overrides only the call it fakes.
//
// Narrower seams stay where they describe more than one call: the file under
// the SAF writer (a full disk at a given byte) and the steps of an atomic
// rewrite.
//
// Thread-safety: every call may come from any thread; implementations keep
// it so.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/file_info.h"

namespace vardel::platform {

class DirectoryReader;

// Cuts sleeps short: raised (an abort) it ends every sleep that watches it
// until reset; wake() ends them once without raising it (a pause lifted).
// Any thread.
class Interrupt {
  public:
    void raise();
    void reset() { raised_.store(false); }
    bool raised() const { return raised_.load(); }
    void wake();
    // The flag itself, for code that polls it between blocks.
    const std::atomic<bool>& flag() const { return raised_; }

    // Waits until `deadline`, raise() or wake(); true when raised.
    bool wait_until(std::chrono::steady_clock::time_point deadline) const;

  private:
    std::atomic<bool> raised_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    uint64_t wakes_ = 0;  // under mutex_
};

class Env : public Clock {
  public:
    // The operating system itself; lives as long as the process.
    static const Env& real();

    // Seconds since 1970-01-01 00:00 UTC.
    int64_t now() const override;
    virtual std::chrono::steady_clock::time_point steady_now() const;
    // Sleeps `duration`, less when `interrupt` is raised or woken meanwhile;
    // false when it is raised (also when it was before the call).
    virtual bool sleep_for(std::chrono::milliseconds duration,
                           const Interrupt* interrupt = nullptr) const;

    // As platform::stat_path and stat_path_following.
    virtual bool stat(const std::string& path, FileInfo& out, int* error_number = nullptr) const;
    virtual bool stat_following(const std::string& path, FileInfo& out,
                                int* error_number = nullptr) const;
    // As stat() for `path`, the entry `name` of the folder `dir` has open
    // (platform::stat_at).
    virtual bool stat_in(const DirectoryReader& dir, const std::string& name,
                         const std::string& path, FileInfo& out, int* error_number = nullptr) const;
    // As File::open: false with the reason in file.error().
    virtual bool open(File& file, const std::string& path, OpenMode mode,
                      mode_t mode_bits = 0644) const;
    // As open() for `path`, the entry `name` of the folder `folder` has open
    // (File::open_at): no walk of the path from the root.
    virtual bool open_in(const File& folder, const std::string& name, const std::string& path,
                         File& file, OpenMode mode) const;
    // As DirectoryReader::open: false with the reason in *error_number.
    virtual bool open_directory(DirectoryReader& reader, const std::string& path,
                                int* error_number = nullptr) const;
    // As platform::run_shell_command.
    virtual int run_shell_command(const std::string& command, int* error_number = nullptr) const;
};

// Forwards every call to another Env.
class EnvWrapper : public Env {
  public:
    explicit EnvWrapper(const Env& target = Env::real()) : target_(target) {}
    const Env& target() const { return target_; }

    int64_t now() const override { return target_.now(); }
    std::chrono::steady_clock::time_point steady_now() const override {
        return target_.steady_now();
    }
    bool sleep_for(std::chrono::milliseconds duration,
                   const Interrupt* interrupt = nullptr) const override {
        return target_.sleep_for(duration, interrupt);
    }
    bool stat(const std::string& path, FileInfo& out, int* error_number = nullptr) const override {
        return target_.stat(path, out, error_number);
    }
    bool stat_following(const std::string& path, FileInfo& out,
                        int* error_number = nullptr) const override {
        return target_.stat_following(path, out, error_number);
    }
    bool stat_in(const DirectoryReader& dir, const std::string& name, const std::string& path,
                 FileInfo& out, int* error_number = nullptr) const override {
        return target_.stat_in(dir, name, path, out, error_number);
    }
    bool open(File& file, const std::string& path, OpenMode mode,
              mode_t mode_bits = 0644) const override {
        return target_.open(file, path, mode, mode_bits);
    }
    bool open_in(const File& folder, const std::string& name, const std::string& path, File& file,
                 OpenMode mode) const override {
        return target_.open_in(folder, name, path, file, mode);
    }
    bool open_directory(DirectoryReader& reader, const std::string& path,
                        int* error_number = nullptr) const override {
        return target_.open_directory(reader, path, error_number);
    }
    int run_shell_command(const std::string& command, int* error_number = nullptr) const override {
        return target_.run_shell_command(command, error_number);
    }

  private:
    const Env& target_;
};

}  // namespace vardel::platform
