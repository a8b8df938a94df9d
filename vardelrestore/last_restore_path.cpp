#include "vardelrestore/last_restore_path.h"

#include "common/registry.h"
#include "common/suite_names.h"

namespace vardel {

namespace {
constexpr const char* kSubkey = "VARDELRESTORE";
constexpr const char* kValue = "LastRestorePath";
}  // namespace

std::string last_restore_path() {
    try {
        auto key = registry::open_key(registry::Root::LocalMachine,
                                      registry::join_path(kProductKey, kSubkey));
        return key ? registry::read_text(*key, kValue, "") : std::string();
    } catch (...) {
        return {};
    }
}

void remember_restore_path(std::string_view folder) {
    try {
        auto key = registry::open_key(registry::Root::LocalMachine,
                                      registry::join_path(kProductKey, kSubkey));
        if (key) registry::write_text(*key, kValue, folder);
    } catch (...) {
        // Not remembered; the extraction goes on.
    }
}

}  // namespace vardel
