#pragma once
// A named manual-reset event shared between processes: the editor's reload
// signal to the service and the tray, the service's "I am up" signal.
//
// The event is a small file under runtime_subdir("events") (its name escaped
// by object_file_name) holding the state (set or clear) and a generation
// number that every set and every pulse advances; each open NamedEvent
// watches the folder with inotify. A waiter wakes when the event is set, or
// when its generation moved since the waiter last looked: so a set or a pulse
// wakes every waiter in every process, even when the event is reset again at
// once, and a pulse that comes while a waiter is busy elsewhere is seen at
// its next wait instead of being lost.
//
// Waiting needs only read access: a program that may not create the file
// (an ordinary user beside a machine-wide service) still waits on it, and
// wakes when the owner creates it. Setting needs write access.
//
// One object belongs to one thread at a time; several objects (in one
// process or many) may share one name.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace vardel::platform {

class NamedEvent {
  public:
    enum class WaitResult { Signalled, TimedOut };

    // Creates the event (clear) or opens the existing one. Throws
    // std::system_error when the events folder cannot be made or watched.
    explicit NamedEvent(std::string_view name);
    ~NamedEvent();
    NamedEvent(NamedEvent&& other) noexcept;
    NamedEvent& operator=(NamedEvent&& other) noexcept;
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    const std::string& name() const { return name_; }
    const std::string& file_path() const { return path_; }

    // Each throws std::system_error (EACCES, ENOSPC, ...) when the event
    // cannot be written.
    void set();    // set and stays set until reset
    void reset();  // clear; wakes nobody
    void pulse();  // wakes every waiter, leaves the event clear

    bool is_set() const;

    // Returns at once when the event is set or was set or pulsed since this
    // object last looked (at construction, or the last wait or consume);
    // else waits for that up to `timeout` (negative: without limit).
    WaitResult wait(std::chrono::milliseconds timeout);

    // For poll(): readable when the event file may have changed. After it
    // polls readable, call consume(): it empties the descriptor and says
    // whether a set or pulse happened since this object last looked. An
    // event that stays set counts once, so a poll loop does not spin on it;
    // is_set() tells the level.
    int fd() const { return inotify_fd_; }
    bool consume();

  private:
    struct State {
        uint64_t generation = 0;
        bool set = false;
    };
    State read_state() const;
    // Changes the state under the file's lock: set or clear, and a new generation.
    void write_state(bool set, bool advance);
    // Reads pending inotify records; re-watches the folder when it went away.
    void drain();
    void watch();
    bool take_signal();

    std::string name_;
    std::string dir_;
    std::string file_name_;
    std::string path_;
    int inotify_fd_ = -1;
    int watch_ = -1;
    uint64_t seen_generation_ = 0;
};

}  // namespace vardel::platform
