#pragma once
// The service's hidden main window: a message loop owned by one thread (the
// control thread). Messages keep their Windows numbers so logs and tests read
// the same. One handler (the window procedure) receives every message, one at
// a time, in order.
//
// Thread safety: post(), send() and post_quit() may be called from any
// thread. set_timer(), kill_timer(), watch_fd() and unwatch_fd() are meant for
// the loop's own thread (the handler) but are safe from any thread.
// run() is called by exactly one thread, which becomes the loop's thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/env.h"
#include "platform/thread_annotations.h"

namespace vardel::platform {

inline constexpr uint32_t WM_CREATE = 0x0001;
inline constexpr uint32_t WM_DESTROY = 0x0002;
inline constexpr uint32_t WM_SIZE = 0x0005;
inline constexpr uint32_t WM_PAINT = 0x000F;
inline constexpr uint32_t WM_CLOSE = 0x0010;
inline constexpr uint32_t WM_QUIT = 0x0012;
inline constexpr uint32_t WM_TIMER = 0x0113;
inline constexpr uint32_t WM_POWERBROADCAST = 0x0218;
inline constexpr uint32_t WM_USER = 0x0400;

// WM_POWERBROADCAST events (wparam).
inline constexpr uintptr_t PBT_APMQUERYSUSPEND = 0x0000;
inline constexpr uintptr_t PBT_APMSUSPEND = 0x0004;
inline constexpr uintptr_t PBT_APMRESUMESUSPEND = 0x0007;
// The handler's answer to a query it refuses.
inline constexpr intptr_t BROADCAST_QUERY_DENY = 0x424D5144;

struct Message {
    uint32_t msg = 0;
    uintptr_t wparam = 0;
    intptr_t lparam = 0;
};

class MessageLoop {
  public:
    using Handler = std::function<intptr_t(const Message&)>;

    // Timers run on `env`'s steady clock.
    explicit MessageLoop(const Env& env = Env::real());
    ~MessageLoop();
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    void set_handler(Handler handler);

    // Queues a message; returns at once.
    void post(uint32_t msg, uintptr_t wparam = 0, intptr_t lparam = 0);
    // Runs the handler on the loop's thread and returns its result; from the
    // loop's own thread the handler runs at once. When the loop is not
    // running (not started, or ended) returns 0 without running the handler.
    intptr_t send(uint32_t msg, uintptr_t wparam = 0, intptr_t lparam = 0);
    // Ends run() after the messages queued before it, returning `code`.
    void post_quit(int code = 0);

    // Timer `id` delivers WM_TIMER(wparam = id) after `delay`, again every
    // `delay` until killed (as window timers do). Setting an armed id re-arms it.
    void set_timer(uintptr_t id, std::chrono::milliseconds delay);
    void kill_timer(uintptr_t id);
    bool timer_armed(uintptr_t id) const;
    // The delay an armed timer was set with; 0 when not armed.
    std::chrono::milliseconds timer_delay(uintptr_t id) const;

    // Calls on_ready on the loop's thread whenever fd is readable.
    void watch_fd(int fd, std::function<void()> on_ready);
    void unwatch_fd(int fd);

    // Runs until WM_QUIT; returns the quit code.
    int run();
    bool on_loop_thread() const;
    bool running() const { return running_.load(); }

  private:
    struct Pending {
        Message m;
        // For send(): where the result goes; null for post().
        std::shared_ptr<struct SendSlot> reply;
    };
    void wake();
    void release_senders();
    void dispatch_queued();
    int next_timeout_ms();
    void fire_due_timers();

    Handler handler_;
    int wake_fd_ = -1;
    mutable Mutex mutex_;
    std::deque<Pending> queue_ GUARDED_BY(mutex_);
    using TimePoint = std::chrono::steady_clock::time_point;
    struct Timer {
        std::chrono::milliseconds period;
        TimePoint due;
    };
    std::map<uintptr_t, Timer> timers_ GUARDED_BY(mutex_);
    std::map<int, std::function<void()>> fds_ GUARDED_BY(mutex_);
    std::atomic<bool> running_{false};
    std::atomic<bool> quitting_{false};
    std::thread::id loop_thread_;
    int quit_code_ = 0;
    const Env& env_;
};

}  // namespace vardel::platform
