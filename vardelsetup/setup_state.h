#pragma once
// What the installer knows before it installs: the folders (from an earlier
// installation's settings, else the defaults), the version installed
// before, and the user's choices in the wizard. Plain data; any thread.
#include <string>

namespace vardel {

class SetupState {
  public:
    // The defaults of a new installation.
    SetupState();

    // The folders and previous version of an installation recorded in the
    // settings store; the defaults where it records none. A store that is
    // not there is not created. Throws MyError when the store is unreadable.
    static SetupState from_store();

    const std::string& install_dir() const { return install_dir_; }  // ends in "/"
    const std::string& data_dir() const { return data_dir_; }        // ends in "/"
    const std::string& previous_version() const { return previous_version_; }
    bool per_user() const { return per_user_; }

    bool upgrade() const { return !previous_version_.empty(); }
    // "New", or "Upgrade from 1.0 to 1.1".
    std::string install_type() const;

    // Takes the folders as typed, each given one trailing "/". An empty
    // text when both are usable, else the message that says why not (a
    // folder that is not a full path, or holds a control character).
    std::string set_folders(const std::string& install_dir, const std::string& data_dir);
    void set_per_user(bool per_user) { per_user_ = per_user; }
    void set_previous_version(const std::string& version) { previous_version_ = version; }

  private:
    std::string install_dir_;
    std::string data_dir_;
    std::string previous_version_;
    bool per_user_ = false;
};

}  // namespace vardel
