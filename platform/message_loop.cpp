#include "platform/message_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

namespace vardel::platform {

struct SendSlot {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    intptr_t result = 0;
};

MessageLoop::MessageLoop(const Env& env) : env_(env) {
    wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) throw std::runtime_error("eventfd failed");
}

namespace {

void complete(SendSlot& slot, intptr_t result) {
    std::lock_guard l(slot.m);
    slot.result = result;
    slot.done = true;
    slot.cv.notify_all();
}

}  // namespace

void MessageLoop::release_senders() {
    // Anyone still waiting in send() is released with 0.
    std::deque<Pending> left;
    {
        MutexLock lock(mutex_);
        running_.store(false);
        left.swap(queue_);
    }
    for (Pending& p : left)
        if (p.reply) complete(*p.reply, 0);
}

MessageLoop::~MessageLoop() {
    release_senders();
    if (wake_fd_ >= 0) ::close(wake_fd_);
}

void MessageLoop::set_handler(Handler handler) {
    handler_ = std::move(handler);
}

void MessageLoop::wake() {
    uint64_t one = 1;
    ssize_t n = ::write(wake_fd_, &one, sizeof one);
    (void)n;  // a full counter still wakes the loop
}

void MessageLoop::post(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
    {
        MutexLock lock(mutex_);
        queue_.push_back(Pending{Message{msg, wparam, lparam}, nullptr});
    }
    wake();
}

intptr_t MessageLoop::send(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
    if (on_loop_thread()) return handler_ ? handler_(Message{msg, wparam, lparam}) : 0;
    auto slot = std::make_shared<SendSlot>();
    {
        MutexLock lock(mutex_);
        if (!running_.load() || quitting_.load()) return 0;
        queue_.push_back(Pending{Message{msg, wparam, lparam}, slot});
    }
    wake();
    std::unique_lock l(slot->m);
    slot->cv.wait(l, [&] { return slot->done; });
    return slot->result;
}

void MessageLoop::post_quit(int code) {
    post(WM_QUIT, static_cast<uintptr_t>(code), 0);
}

void MessageLoop::set_timer(uintptr_t id, std::chrono::milliseconds delay) {
    if (delay.count() < 1) delay = std::chrono::milliseconds(1);
    {
        MutexLock lock(mutex_);
        timers_[id] = Timer{delay, env_.steady_now() + delay};
    }
    wake();
}

void MessageLoop::kill_timer(uintptr_t id) {
    MutexLock lock(mutex_);
    timers_.erase(id);
}

bool MessageLoop::timer_armed(uintptr_t id) const {
    MutexLock lock(mutex_);
    return timers_.count(id) != 0;
}

std::chrono::milliseconds MessageLoop::timer_delay(uintptr_t id) const {
    MutexLock lock(mutex_);
    auto it = timers_.find(id);
    return it == timers_.end() ? std::chrono::milliseconds(0) : it->second.period;
}

void MessageLoop::watch_fd(int fd, std::function<void()> on_ready) {
    {
        MutexLock lock(mutex_);
        fds_[fd] = std::move(on_ready);
    }
    wake();
}

void MessageLoop::unwatch_fd(int fd) {
    {
        MutexLock lock(mutex_);
        fds_.erase(fd);
    }
    wake();
}

bool MessageLoop::on_loop_thread() const {
    return running_.load() && std::this_thread::get_id() == loop_thread_;
}

int MessageLoop::next_timeout_ms() {
    MutexLock lock(mutex_);
    if (!queue_.empty()) return 0;
    if (timers_.empty()) return -1;
    auto now = env_.steady_now();
    auto first = timers_.begin()->second.due;
    for (auto& [id, t] : timers_)
        if (t.due < first) first = t.due;
    if (first <= now) return 0;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(first - now).count() + 1;
    return ms > 24 * 3600 * 1000 ? 24 * 3600 * 1000 : static_cast<int>(ms);
}

void MessageLoop::fire_due_timers() {
    std::vector<uintptr_t> due;
    {
        MutexLock lock(mutex_);
        auto now = env_.steady_now();
        for (auto& [id, t] : timers_) {
            if (t.due <= now) {
                due.push_back(id);
                t.due = now + t.period;
            }
        }
        for (uintptr_t id : due) queue_.push_back(Pending{Message{WM_TIMER, id, 0}, nullptr});
    }
}

void MessageLoop::dispatch_queued() {
    while (true) {
        Pending p;
        {
            MutexLock lock(mutex_);
            if (queue_.empty()) return;
            p = std::move(queue_.front());
            queue_.pop_front();
            // A timer killed after its WM_TIMER was queued must not fire.
            if (p.m.msg == WM_TIMER && !p.reply && timers_.count(p.m.wparam) == 0) continue;
        }
        if (p.m.msg == WM_QUIT) {
            quit_code_ = static_cast<int>(p.m.wparam);
            quitting_.store(true);
            return;
        }
        intptr_t r = handler_ ? handler_(p.m) : 0;
        if (p.reply) complete(*p.reply, r);
    }
}

int MessageLoop::run() {
    loop_thread_ = std::this_thread::get_id();
    quitting_.store(false);
    running_.store(true);
    std::vector<pollfd> pfds;
    std::vector<std::function<void()>> ready;
    while (!quitting_.load()) {
        pfds.clear();
        pfds.push_back({wake_fd_, POLLIN, 0});
        {
            MutexLock lock(mutex_);
            for (auto& [fd, fn] : fds_) pfds.push_back({fd, POLLIN, 0});
        }
        int timeout = next_timeout_ms();
        int n = ::poll(pfds.data(), pfds.size(), timeout);
        if (n < 0 && errno != EINTR) break;
        if (pfds[0].revents & POLLIN) {
            uint64_t v;
            ssize_t r = ::read(wake_fd_, &v, sizeof v);
            (void)r;
        }
        ready.clear();
        {
            MutexLock lock(mutex_);
            for (size_t i = 1; i < pfds.size(); ++i) {
                if (pfds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                    auto it = fds_.find(pfds[i].fd);
                    if (it != fds_.end()) ready.push_back(it->second);
                }
            }
        }
        for (auto& fn : ready) fn();
        fire_due_timers();
        dispatch_queued();
    }
    // Messages still queued are dropped; their senders get 0.
    release_senders();
    return quit_code_;
}

}  // namespace vardel::platform
