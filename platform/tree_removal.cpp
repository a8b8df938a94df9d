#include "platform/tree_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vardel::platform {

namespace {

struct Walk {
    TreeRemoval& report;
    int first_error = 0;

    void fail(const std::string& path, int err) {
        if (first_error == 0) first_error = err;
        report.failures.push_back(path + ": " + std::strerror(err));
    }

    // Empties the folder open as `fd` (taken over and closed here).
    void empty_folder(int fd, const std::string& path, dev_t device) {
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            fail(path, errno);
            ::close(fd);
            return;
        }
        // Names first, then removal: removing while reading may skip entries.
        std::vector<std::string> names;
        errno = 0;
        while (dirent* e = ::readdir(dir)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        }
        for (const std::string& name : names)
            remove_entry(::dirfd(dir), path + "/" + name, name, device);
        ::closedir(dir);
    }

    void remove_entry(int parent, const std::string& path, const std::string& name, dev_t device) {
        struct stat st;
        if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) fail(path, errno);
            return;
        }
        if (S_ISDIR(st.st_mode)) {
            if (st.st_dev != device) {
                report.kept.push_back(path);
                return;
            }
            int fd =
                ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) {
                fail(path, errno);
                return;
            }
            empty_folder(fd, path, device);
            if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0)
                ++report.removed;
            else if (errno != ENOTEMPTY || report.kept.empty())
                fail(path, errno);
            return;
        }
        if (::unlinkat(parent, name.c_str(), 0) == 0)
            ++report.removed;
        else if (errno != ENOENT)
            fail(path, errno);
    }
};

}  // namespace

bool remove_tree(const std::string& path, TreeRemoval& report, int* error) {
    std::string clean = path;
    while (clean.size() > 1 && clean.back() == '/') clean.pop_back();
    size_t slash = clean.rfind('/');
    std::string parent_path = slash == std::string::npos ? "."
                              : slash == 0               ? "/"
                                                         : clean.substr(0, slash);
    std::string name = slash == std::string::npos ? clean : clean.substr(slash + 1);
    Walk walk{report};
    auto fail_with = [&](int err) {
        walk.fail(clean, err);
        if (error) *error = err;
        return false;
    };
    if (name.empty() || name == "." || name == "..") return fail_with(EINVAL);

    int parent = ::open(parent_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) return fail_with(errno);
    struct stat st;
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        int err = errno;
        ::close(parent);
        return fail_with(err);
    }
    if (!S_ISDIR(st.st_mode)) {
        ::close(parent);
        return fail_with(S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR);
    }
    walk.remove_entry(parent, clean, name, st.st_dev);
    ::close(parent);
    if (error) *error = walk.first_error;
    return walk.first_error == 0 && report.kept.empty();
}

}  // namespace vardel::platform
