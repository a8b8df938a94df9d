#pragma once
// A TCP connection for the SMTP sender: the host is looked up with
// getaddrinfo (a dotted address or a name), the connection is made without
// blocking past a time-out, and all I/O after that is non-blocking, so a
// silent server can hold its caller only as long as the caller allows.
// Failures keep their Winsock number and text (winsock_errors.h), or the
// look-up's own text.
//
// One owner; not thread-safe.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vardel::platform {

class TcpSocket {
  public:
    enum class Io { Done, WouldBlock, Closed, Failed };
    enum class Wait { Readable, Writable };

    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Tries every address of host in turn, each for at most `timeout`.
    // False with error_text() set on failure.
    bool connect(const std::string& host, uint16_t port, std::chrono::milliseconds timeout);
    bool is_open() const { return fd_ >= 0; }
    void close();

    // Receives what is there (got > 0 with Done). Closed: the peer ended the
    // connection.
    Io receive(void* buf, size_t size, size_t& got);
    // Sends what fits now (sent > 0 with Done); never raises SIGPIPE.
    Io send(const void* buf, size_t size, size_t& sent);
    // True when the socket became ready within the time.
    bool wait(Wait what, std::chrono::milliseconds timeout);

    int error_code() const { return code_; }
    const std::string& error_text() const { return text_; }

  private:
    void fail_errno(int e);

    int fd_ = -1;
    int code_ = 0;
    std::string text_;
};

}  // namespace vardel::platform
