#include "platform/tcp_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/winsock_errors.h"

namespace vardel::platform {

namespace {
using Clock = std::chrono::steady_clock;

int poll_one(int fd, short events, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, events, 0};
        int n = ::poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}
}  // namespace

TcpSocket::~TcpSocket() {
    close();
}

void TcpSocket::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void TcpSocket::fail_errno(int e) {
    code_ = winsock_code(e);
    text_ = network_error_text(code_);
}

bool TcpSocket::connect(const std::string& host, uint16_t port, std::chrono::milliseconds timeout) {
    close();
    code_ = 0;
    text_.clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    std::string service = std::to_string(port);
    int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) {
        if (rc == EAI_SYSTEM) {
            fail_errno(errno);
        } else {
            code_ = rc;
            text_ = ::gai_strerror(rc);
        }
        return false;
    }
    int last = ETIMEDOUT;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          ai->ai_protocol);
        if (fd < 0) {
            last = errno;
            continue;
        }
        // Lingering on close lets the last reply's bytes leave before the socket goes.
        linger lg{1, 5};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        int r = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (r != 0 && errno == EINPROGRESS) {
            int n = poll_one(fd, POLLOUT, timeout);
            int err = 0;
            socklen_t len = sizeof err;
            if (n == 0) {
                err = ETIMEDOUT;
            } else if (n < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
                err = errno;
            }
            r = err == 0 ? 0 : -1;
            errno = err;
        }
        if (r == 0) {
            fd_ = fd;
            break;
        }
        last = errno;
        ::close(fd);
    }
    ::freeaddrinfo(list);
    if (fd_ < 0) {
        fail_errno(last);
        return false;
    }
    return true;
}

TcpSocket::Io TcpSocket::receive(void* buf, size_t size, size_t& got) {
    got = 0;
    for (;;) {
        ssize_t n = ::recv(fd_, buf, size, 0);
        if (n > 0) {
            got = static_cast<size_t>(n);
            return Io::Done;
        }
        if (n == 0) {
            fail_errno(ECONNRESET);
            return Io::Closed;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::WouldBlock;
        fail_errno(errno);
        return Io::Failed;
    }
}

TcpSocket::Io TcpSocket::send(const void* buf, size_t size, size_t& sent) {
    sent = 0;
    for (;;) {
        ssize_t n = ::send(fd_, buf, size, MSG_NOSIGNAL);
        if (n >= 0) {
            sent = static_cast<size_t>(n);
            return Io::Done;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::WouldBlock;
        int e = errno;
        fail_errno(e);
        return e == EPIPE || e == ECONNRESET ? Io::Closed : Io::Failed;
    }
}

bool TcpSocket::wait(Wait what, std::chrono::milliseconds timeout) {
    return poll_one(fd_, what == Wait::Readable ? POLLIN : POLLOUT, timeout) > 0;
}

}  // namespace vardel::platform
