#pragma once
// User accounts and groups as the installer and the uninstaller need them:
// who asked for the install (the user behind sudo or pkexec), every
// account's home folder (never to be deleted), whether a group exists, and
// file work done with a user's own rights in that user's folders, so that a
// link the user planted there cannot turn a root write elsewhere. Any thread.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vardel::platform {

struct Account {
    unsigned uid = 0;
    unsigned gid = 0;
    std::string name;
    std::string home;  // without a trailing "/"
};

std::optional<Account> account_by_uid(unsigned uid);
std::optional<Account> account_by_name(const std::string& name);

// The person this process works for: when it runs as root through sudo
// (SUDO_UID) or pkexec (PKEXEC_UID) for another account, that account;
// otherwise its own account, with HOME from the environment when set.
Account invoking_user();

// The home folder of every account in the account database, and $HOME.
std::vector<std::string> home_folders();

bool group_exists(const std::string& name);
// The id of the group `name`, or none when there is no such group.
std::optional<unsigned> group_id(const std::string& name);
// True when the account is a member of the group (primary or listed).
bool user_in_group(const Account& user, const std::string& group);

// Runs `work` with the rights of `user`: in a child process that takes the
// user's groups and ids, when this process is root and `user` is another
// account; in this process otherwise. Returns work's value, or an errno
// when the child could not be made or changed identity.
int run_as(const Account& user, const std::function<int()>& work);

}  // namespace vardel::platform
