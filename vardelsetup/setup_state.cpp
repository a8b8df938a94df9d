#include "vardelsetup/setup_state.h"

#include <sys/stat.h>

#include "common/install_layout.h"
#include "common/my_error.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace vardel {

namespace {

std::string unusable(const std::string& folder) {
    if (folder.empty() || folder[0] != '/')
        return strprintf("The folder \"%s\" is not a full path: it must begin with /",
                         folder.c_str());
    for (unsigned char c : folder)
        if (c < 32 || c == 127)
            return strprintf("The folder \"%s\" holds a character that cannot be used",
                             folder.c_str());
    return {};
}

}  // namespace

SetupState::SetupState()
    : install_dir_(install::kDefaultInstallDir), data_dir_(install::kDefaultDataDir) {}

SetupState SetupState::from_store() {
    SetupState s;
    struct stat st;
    if (::stat(platform::suite_paths().settings_store.c_str(), &st) != 0) return s;
    std::optional<registry::Key> key;
    try {
        key = registry::open_key(registry::Root::LocalMachine, kProductKey);
    } catch (const platform::RegistryError& e) {
        throw MyError(OPERATION_FAILED, e.what());
    }
    if (!key) return s;
    s.previous_version_ = registry::read_text(*key, kCurrentVersionValue, "");
    std::string install = registry::read_text(*key, kInstallDirValue, "");
    std::string data = registry::read_text(*key, kDataPathValue, "");
    if (!install.empty() && unusable(install).empty())
        s.install_dir_ = install::with_slash(install);
    if (!data.empty() && unusable(data).empty()) s.data_dir_ = install::with_slash(data);
    return s;
}

std::string SetupState::install_type() const {
    if (!upgrade()) return "New";
    return "Upgrade from " + previous_version_ + " to " + kProductVersion;
}

std::string SetupState::set_folders(const std::string& install_dir, const std::string& data_dir) {
    for (const std::string* f : {&install_dir, &data_dir}) {
        std::string why = unusable(*f);
        if (!why.empty()) return why;
    }
    install_dir_ = install::with_slash(install_dir);
    data_dir_ = install::with_slash(data_dir);
    return {};
}

}  // namespace vardel
