#include "gui/single_instance.h"

#include <system_error>

#include "common/log.h"
#include "platform/named_mutex.h"

namespace vardel::gui {

SingleInstance::SingleInstance(const std::string& name) {
    try {
        // One copy per session of this account: no other account may hold it.
        lock_ = std::make_unique<platform::NamedMutex>(name, platform::LockScope::ThisUser);
        held_ = lock_->try_lock();
    } catch (const std::system_error& e) {
        log(LOG_DEBUG, "Single-instance lock %s: %s\n", name.c_str(), e.what());
        held_ = false;
        failed_ = true;
    }
}

SingleInstance::~SingleInstance() = default;

}  // namespace vardel::gui
