#include "platform/accounts.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace vardel::platform {

namespace {

// getpwent() and friends share one cursor in the process.
std::mutex& database_mutex() {
    static std::mutex m;
    return m;
}

std::string strip_slashes(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

Account from_passwd(const passwd& pw) {
    return Account{pw.pw_uid, pw.pw_gid, pw.pw_name ? pw.pw_name : "",
                   strip_slashes(pw.pw_dir ? pw.pw_dir : "")};
}

std::optional<unsigned> uid_from_env(const char* name) {
    const char* v = std::getenv(name);
    if (!v || !*v) return std::nullopt;
    char* end = nullptr;
    unsigned long n = std::strtoul(v, &end, 10);
    if (*end != '\0') return std::nullopt;
    return static_cast<unsigned>(n);
}

}  // namespace

std::optional<Account> account_by_uid(unsigned uid) {
    passwd pw;
    passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found) return std::nullopt;
    return from_passwd(pw);
}

std::optional<Account> account_by_name(const std::string& name) {
    passwd pw;
    passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (::getpwnam_r(name.c_str(), &pw, buf.data(), buf.size(), &found) != 0 || !found)
        return std::nullopt;
    return from_passwd(pw);
}

Account invoking_user() {
    if (::geteuid() == 0) {
        for (const char* var : {"PKEXEC_UID", "SUDO_UID"}) {
            if (std::optional<unsigned> uid = uid_from_env(var); uid && *uid != 0) {
                if (std::optional<Account> a = account_by_uid(*uid)) return *a;
            }
        }
    }
    Account me = account_by_uid(::geteuid()).value_or(Account{::geteuid(), ::getegid(), "", ""});
    if (const char* home = std::getenv("HOME"); home && *home) me.home = strip_slashes(home);
    return me;
}

std::vector<std::string> home_folders() {
    std::vector<std::string> homes;
    {
        std::lock_guard<std::mutex> lock(database_mutex());
        ::setpwent();
        while (passwd* pw = ::getpwent())
            if (pw->pw_dir && *pw->pw_dir) homes.push_back(strip_slashes(pw->pw_dir));
        ::endpwent();
    }
    if (const char* home = std::getenv("HOME"); home && *home) homes.push_back(strip_slashes(home));
    return homes;
}

std::optional<unsigned> group_id(const std::string& name) {
    group gr;
    group* found = nullptr;
    std::vector<char> buf(65536);
    if (::getgrnam_r(name.c_str(), &gr, buf.data(), buf.size(), &found) != 0 || !found)
        return std::nullopt;
    return gr.gr_gid;
}

bool group_exists(const std::string& name) {
    return group_id(name).has_value();
}

bool user_in_group(const Account& user, const std::string& name) {
    group gr;
    group* found = nullptr;
    std::vector<char> buf(65536);
    if (::getgrnam_r(name.c_str(), &gr, buf.data(), buf.size(), &found) != 0 || !found)
        return false;
    if (gr.gr_gid == user.gid) return true;
    for (char** m = gr.gr_mem; m && *m; ++m)
        if (user.name == *m) return true;
    return false;
}

int run_as(const Account& user, const std::function<int()>& work) {
    if (::geteuid() != 0 || user.uid == ::geteuid()) return work();
    pid_t pid = ::fork();
    if (pid < 0) return errno;
    if (pid == 0) {
        if (::initgroups(user.name.c_str(), user.gid) != 0 || ::setgid(user.gid) != 0 ||
            ::setuid(user.uid) != 0)
            ::_exit(EPERM);
        ::_exit(work() & 0xff);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return errno;
    return WIFEXITED(status) ? WEXITSTATUS(status) : EIO;
}

}  // namespace vardel::platform
