#include "common/set_lock.h"

#include <memory>
#include <mutex>
#include <system_error>
#include <utility>

#include "common/log.h"
#include "common/text_helpers.h"
#include "platform/named_mutex.h"

namespace vardel {

namespace {

// The program's one held lock. Each acquisition gets a new ticket, so an
// object whose lock was taken over can tell and leaves the newer one alone.
struct Held {
    std::mutex mutex;
    std::unique_ptr<platform::NamedMutex> lock;
    std::string set_name;
    uint64_t ticket = 0;
    uint64_t last_ticket = 0;
};

Held& held_lock() {
    static Held h;
    return h;
}

}  // namespace

std::string SetLock::mutex_name(std::string_view set_name) {
    std::string name = "lock_backup_";
    for (char c : set_name) name += ascii_lower(c);
    return name;
}

std::optional<SetLock> SetLock::acquire(std::string_view set_name) {
    Held& h = held_lock();
    std::lock_guard<std::mutex> guard(h.mutex);
    h.lock.reset();
    h.set_name.clear();
    h.ticket = 0;
    try {
        auto lock = std::make_unique<platform::NamedMutex>(mutex_name(set_name));
        if (!lock->try_lock()) return std::nullopt;
        h.lock = std::move(lock);
        h.set_name = std::string(set_name);
        h.ticket = ++h.last_ticket;
        return SetLock(h.ticket, h.set_name);
    } catch (const std::system_error& e) {
        log(LOG_DEBUG, "Set lock for '%.*s': %s\n", static_cast<int>(set_name.size()),
            set_name.data(), e.what());
        return std::nullopt;
    }
}

SetLock::SetLock(SetLock&& other) noexcept
    : ticket_(std::exchange(other.ticket_, 0)), set_name_(std::move(other.set_name_)) {}

SetLock& SetLock::operator=(SetLock&& other) noexcept {
    if (this != &other) {
        release();
        ticket_ = std::exchange(other.ticket_, 0);
        set_name_ = std::move(other.set_name_);
    }
    return *this;
}

SetLock::~SetLock() {
    release();
}

void SetLock::release() {
    if (ticket_ == 0) return;
    Held& h = held_lock();
    std::lock_guard<std::mutex> guard(h.mutex);
    if (h.ticket == ticket_) {
        h.lock.reset();
        h.set_name.clear();
        h.ticket = 0;
    }
    ticket_ = 0;
}

bool SetLock::holds() const {
    if (ticket_ == 0) return false;
    Held& h = held_lock();
    std::lock_guard<std::mutex> guard(h.mutex);
    return h.ticket == ticket_;
}

std::string SetLock::held() {
    Held& h = held_lock();
    std::lock_guard<std::mutex> guard(h.mutex);
    return h.set_name;
}

}  // namespace vardel
