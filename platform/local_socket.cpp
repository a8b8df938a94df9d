#include "platform/local_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/paths.h"

namespace vardel::platform {

namespace {

bool make_address(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int poll_ms(std::chrono::milliseconds t) {
    return t.count() < 0 ? -1 : static_cast<int>(t.count());
}

}  // namespace

std::string control_socket_path() {
    return runtime_subdir("") + "/vardeld.sock";
}

SeqPacketListener::~SeqPacketListener() {
    close();
}

SeqPacketListener::Result SeqPacketListener::listen(const std::string& path, std::string* error) {
    close();
    sockaddr_un addr;
    if (!make_address(path, addr)) {
        if (error) *error = std::strerror(errno);
        return Result::Failed;
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            if (error) *error = path + " exists and is not a socket";
            return Result::Failed;
        }
        int probe = connect_seqpacket(path);
        if (probe >= 0) {
            ::close(probe);
            if (error) *error = "another service answers on " + path;
            return Result::InUse;
        }
        ::unlink(path.c_str());  // left by a service that died
    }
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) {
        if (error) *error = std::strerror(errno);
        return Result::Failed;
    }
    // Bind with a wide umask: clients of every account connect.
    mode_t old = ::umask(0);
    int rc = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::umask(old);
    if (rc != 0 || ::listen(fd_, 16) != 0) {
        if (error) *error = std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return Result::Failed;
    }
    ::chmod(path.c_str(), 0666);
    path_ = path;
    return Result::Listening;
}

int SeqPacketListener::accept() {
    if (fd_ < 0) return -1;
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
}

void SeqPacketListener::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        if (!path_.empty()) ::unlink(path_.c_str());
        path_.clear();
    }
}

RecvResult recv_record(int fd, std::string& out, size_t max_len, std::chrono::milliseconds timeout,
                       int stop_fd) {
    while (true) {
        pollfd p[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
        int n = ::poll(p, stop_fd >= 0 ? 2 : 1, poll_ms(timeout));
        if (n < 0) {
            if (errno == EINTR) continue;
            return RecvResult::Failed;
        }
        if (n == 0) return RecvResult::TimedOut;
        if (stop_fd >= 0 && (p[1].revents & (POLLIN | POLLHUP))) return RecvResult::Stopped;
        out.resize(max_len + 1);
        ssize_t got = ::recv(fd, out.data(), out.size(), MSG_TRUNC | MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return RecvResult::Failed;
        }
        if (got == 0) return RecvResult::Closed;
        if (static_cast<size_t>(got) > max_len) return RecvResult::TooLong;
        out.resize(static_cast<size_t>(got));
        return RecvResult::Record;
    }
}

bool send_record(int fd, std::string_view record, std::chrono::milliseconds timeout) {
    while (true) {
        ssize_t n = ::send(fd, record.data(), record.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(record.size())) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN && timeout.count() > 0) {
            pollfd p{fd, POLLOUT, 0};
            int r = ::poll(&p, 1, poll_ms(timeout));
            if (r > 0 && (p.revents & POLLOUT)) {
                timeout = std::chrono::milliseconds(0);  // one more try only
                continue;
            }
            errno = EAGAIN;
        }
        return false;
    }
}

int connect_seqpacket(const std::string& path) {
    sockaddr_un addr;
    if (!make_address(path, addr)) return -1;
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

std::optional<PeerCredentials> peer_credentials(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred)
        return std::nullopt;
    return PeerCredentials{cred.uid, cred.gid, cred.pid};
}

}  // namespace vardel::platform
