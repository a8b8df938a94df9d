#include "platform/cifs_mount.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/paths.h"
#include "platform/process.h"

namespace fs = std::filesystem;

namespace vardel::platform {

namespace {

CifsMountResult failure(int error_number, std::string text) {
    CifsMountResult r;
    r.error_number = error_number;
    r.error_text = std::move(text);
    return r;
}

// The credentials file holds one value per line.
bool has_line_break(const std::string& s) {
    return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Credentials files older than any mount can last were left by a process
// that died before it could remove them.
void remove_stale_credentials(const std::string& dir, std::chrono::milliseconds timeout) {
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.rfind(CifsMount::kCredentialsPrefix, 0) != 0) continue;
        std::error_code tec;
        auto written = fs::last_write_time(it->path(), tec);
        if (tec || now - written > timeout + std::chrono::seconds(10)) fs::remove(it->path(), tec);
    }
}

// Removes the credentials file however the mount ends.
class CredentialsFile {
  public:
    ~CredentialsFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    // Writes the file; on failure returns errno.
    int write(const std::string& dir, const std::string& username, const std::string& password) {
        std::string templ = dir + "/" + CifsMount::kCredentialsPrefix + "XXXXXX";
        int fd = ::mkstemp(templ.data());
        if (fd < 0) return errno;
        path_ = templ;
        std::string text = "username=" + username + "\npassword=" + password + "\n";
        int err = 0;
        if (::fchmod(fd, 0600) != 0) err = errno;
        size_t done = 0;
        while (!err && done < text.size()) {
            ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                err = n < 0 ? errno : EIO;
            else
                done += static_cast<size_t>(n);
        }
        // Overwrite our copy: the password should not linger in freed memory.
        std::fill(text.begin(), text.end(), '\0');
        if (::close(fd) != 0 && !err) err = errno;
        return err;
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace

CifsMount::CifsMount(std::string program, std::string private_dir,
                     std::chrono::milliseconds timeout)
    : program_(std::move(program)), private_dir_(std::move(private_dir)), timeout_(timeout) {}

CifsMountResult CifsMount::mount(const CifsMountRequest& req) {
    if (has_line_break(req.username) || has_line_break(req.password))
        return failure(EINVAL, "Share login or password contains a line break");

    std::string program = find_program(program_);
    if (program.empty() || ::access(program.c_str(), X_OK) != 0)
        return failure(ENOENT, "Cannot run " + program_ + ": " + std::strerror(ENOENT));

    std::string dir = private_dir_;
    try {
        if (dir.empty()) dir = runtime_subdir("shares");
    } catch (const std::system_error& e) {
        return failure(e.code().value(), e.what());
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!ec && ::chmod(dir.c_str(), 0700) != 0) ec.assign(errno, std::generic_category());
    if (ec) return failure(ec.value(), "Cannot prepare " + dir + ": " + ec.message());
    // mount.cifs splits its options at commas.
    if (dir.find(',') != std::string::npos)
        return failure(EINVAL, "The folder for share credentials has a comma in its path: " + dir);
    remove_stale_credentials(dir, timeout_);

    fs::create_directories(req.mount_point, ec);
    if (ec) return failure(ec.value(), "Cannot create " + req.mount_point + ": " + ec.message());

    CredentialsFile credentials;
    if (int err = credentials.write(dir, req.username, req.password))
        return failure(err,
                       std::string("Cannot write the share credentials: ") + std::strerror(err));

    std::string options = "credentials=" + credentials.path() + ",uid=" + std::to_string(req.uid) +
                          ",gid=" + std::to_string(req.gid);
    // A fixed environment: mount.cifs would take USER, PASSWD or PASSWD_FD
    // from ours over the credentials file. LANG=C keeps its messages readable
    // for cifs_mount_failure().
    ProgramResult run =
        run_program({program, req.source, req.mount_point, "-o", options},
                    {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C", "LC_ALL=C"}, timeout_);
    if (run.exit_status < 0) {
        int err = run.error_number ? run.error_number : EIO;
        return failure(err, "Cannot run " + program + ": " + std::strerror(err));
    }
    if (run.exit_status == 0) {
        CifsMountResult ok;
        ok.mounted = true;
        return ok;
    }
    CifsMountResult r = cifs_mount_failure(run.output, run.exit_status);
    if (!req.password.empty() && r.error_text.find(req.password) != std::string::npos)
        r.error_text = "mount.cifs failed with status " + std::to_string(run.exit_status);
    return r;
}

CifsMountResult cifs_mount_failure(const std::string& output, int exit_status) {
    auto line_at = [&](size_t pos) {
        size_t end = output.find('\n', pos);
        std::string line =
            output.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        return line;
    };
    size_t at = output.find("mount error(");
    if (at != std::string::npos) {
        std::string line = line_at(at + std::strlen("mount error("));
        char* end = nullptr;
        long n = std::strtol(line.c_str(), &end, 10);
        if (end != line.c_str() && end[0] == ')' && end[1] == ':') {
            std::string text = end + 2;
            if (!text.empty() && text[0] == ' ') text.erase(0, 1);
            return failure(static_cast<int>(n), text);
        }
    }
    at = output.find("mount error: ");
    if (at != std::string::npos) {
        std::string text = line_at(at + std::strlen("mount error: "));
        int n = exit_status;
        if (text.find("not supported") != std::string::npos)
            n = ENODEV;
        else if (text.find("could not resolve") != std::string::npos)
            n = EHOSTUNREACH;
        else if (text.find("abruptly closed") != std::string::npos)
            n = ECONNRESET;
        return failure(n, text);
    }
    size_t pos = 0;
    std::string first;
    while (pos < output.size() && first.empty()) {
        first = line_at(pos);
        size_t nl = output.find('\n', pos);
        pos = nl == std::string::npos ? output.size() : nl + 1;
    }
    if (first.empty()) first = "mount.cifs failed with status " + std::to_string(exit_status);
    int n = first.find("permission denied") != std::string::npos ? EPERM : exit_status;
    return failure(n, first);
}

}  // namespace vardel::platform
