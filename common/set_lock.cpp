#include "common/set_lock.h"

#include <memory>
#include <mutex>
#include <system_error>

#include "common/log.h"
#include "common/text_helpers.h"
#include "platform/named_mutex.h"

namespace vardel {

namespace {

struct Held {
    std::mutex mutex;
    std::unique_ptr<platform::NamedMutex> lock;
    std::string set_name;
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

bool SetLock::acquire(std::string_view set_name) {
    Held& h = held_lock();
    std::lock_guard<std::mutex> guard(h.mutex);
    h.lock.reset();
    h.set_name.clear();
    try {
        auto lock = std::make_unique<platform::NamedMutex>(mutex_name(set_name));
        if (!lock->try_lock()) return false;
        h.lock = std::move(lock);
        h.set_name = std::string(set_name);
        return true;
    } catch (const std::system_error& e) {
        log(LOG_DEBUG, "Set lock for '%.*s': %s\n", static_cast<int>(set_name.size()),
            set_name.data(), e.what());
        return false;
    }
}

void SetLock::release() {
    Held& h = held_lock();
    std::lock_guard<std::mutex> guard(h.mutex);
    h.lock.reset();
    h.set_name.clear();
}

std::string SetLock::held() {
    Held& h = held_lock();
    std::lock_guard<std::mutex> guard(h.mutex);
    return h.set_name;
}

}  // namespace vardel
