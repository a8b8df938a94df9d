#include "common/file_changes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "common/text_helpers.h"
#include "platform/atomic_file.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/tree_removal.h"

namespace vardel::install {

namespace {

std::string failure(const char* what, const std::string& path, int err) {
    return strprintf("%s %s: %s", what, path.c_str(), system_error_text(err));
}

std::string make_folders(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return failure("Can't create", folder, ec.value());
    return {};
}

std::string parent_of(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

std::string apply_one(const FileChange& c) {
    switch (c.kind) {
        case FileChange::Kind::Folder:
            return make_folders(c.path);
        case FileChange::Kind::Write: {
            if (std::string e = make_folders(parent_of(c.path)); !e.empty()) return e;
            std::string error;
            if (!platform::write_file_atomically(c.path, c.text, &error, nullptr, c.mode))
                return error;
            ::chmod(c.path.c_str(), c.mode);
            return {};
        }
        case FileChange::Kind::Copy:
            if (std::string e = make_folders(parent_of(c.path)); !e.empty()) return e;
            return copy_file(c.text, c.path, c.mode);
        case FileChange::Kind::Remove:
            if (::unlink(c.path.c_str()) != 0 && errno != ENOENT)
                return failure("Can't delete", c.path, errno);
            return {};
        case FileChange::Kind::RemoveTree: {
            struct stat st;
            if (::lstat(c.path.c_str(), &st) != 0) return {};
            platform::TreeRemoval report;
            int err = 0;
            if (!platform::remove_tree(c.path, report, &err))
                return report.failures.empty() ? failure("Can't delete", c.path, err)
                                               : "Can't delete " + report.failures.front();
            return {};
        }
        case FileChange::Kind::RemoveEmpty:
            ::rmdir(c.path.c_str());
            return {};
    }
    return {};
}

std::string apply_all(const std::vector<FileChange>& changes) {
    for (const FileChange& c : changes)
        if (std::string e = apply_one(c); !e.empty()) return e;
    return {};
}

}  // namespace

void refresh_cache(const char* tool, const std::string& folder) {
    std::string program = platform::find_program(tool);
    struct stat st;
    if (program.empty() || ::stat(folder.c_str(), &st) != 0) return;
    platform::run_program({program, folder}, {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C"},
                          std::chrono::minutes(1));
}

std::string copy_file(const std::string& source, const std::string& target, mode_t mode) {
    platform::File in;
    if (!in.open(source, platform::OpenMode::Read))
        return failure("Can't open", source, in.error());
    platform::File out;
    std::string temp;
    if (!platform::create_temp_beside(target, out, temp, "copy", mode))
        return failure("Can't create", target, out.error());
    auto abandon = [&](const char* what, const std::string& path, int err) {
        out.close();
        ::unlink(temp.c_str());
        return failure(what, path, err);
    };
    bool kernel_copy = true;
    char buf[65536];
    for (;;) {
        if (kernel_copy) {
            ssize_t n = in.copy_to(out, 1 << 20);
            if (n > 0) continue;
            if (n == 0) break;
            int err = in.error();
            if (err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP) {
                kernel_copy = false;
                continue;
            }
            return abandon("Can't copy", source, err);
        }
        ssize_t n = in.read(buf, sizeof buf);
        if (n < 0) return abandon("Can't read", source, in.error());
        if (n == 0) break;
        if (!out.write_all(buf, static_cast<size_t>(n)))
            return abandon("Can't write", target, out.error());
    }
    if (!out.set_mode(mode) || !out.sync()) return abandon("Can't write", target, out.error());
    out.close();
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return failure("Can't replace", target, err);
    }
    return {};
}

std::string apply_changes(const std::vector<FileChange>& changes, const platform::Account* user) {
    if (!user || ::geteuid() != 0 || user->uid == ::geteuid()) return apply_all(changes);
    // The child tells its failure through a pipe.
    int fds[2];
    if (::pipe(fds) != 0) return failure("Can't work as", user->name, errno);
    int rc = platform::run_as(*user, [&] {
        ::close(fds[0]);
        std::string e = apply_all(changes);
        if (!e.empty()) {
            ssize_t ignored = ::write(fds[1], e.data(), e.size());
            (void)ignored;
        }
        return e.empty() ? 0 : 1;
    });
    ::close(fds[1]);
    std::string text;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    if (rc == 0) return {};
    return text.empty() ? failure("Can't work as", user->name, rc) : text;
}

}  // namespace vardel::install
