#pragma once
// The control socket: a SOCK_SEQPACKET Unix domain socket, so message
// boundaries are kept (one record per send, as a message-mode pipe does).
// A record longer than the reader's buffer is a read failure (MSG_TRUNC).
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace vardel::platform {

// The service's socket path: <runtime folder>/vardeld.sock.
std::string control_socket_path();

class SeqPacketListener {
  public:
    SeqPacketListener() = default;
    ~SeqPacketListener();
    SeqPacketListener(const SeqPacketListener&) = delete;
    SeqPacketListener& operator=(const SeqPacketListener&) = delete;

    enum class Result { Listening, InUse, Failed };
    // Binds and listens, mode 0666 so every local account may connect. A
    // socket file left by a crashed service is replaced; one that a live
    // service answers on is not (InUse). *error names the reason on failure.
    Result listen(const std::string& path, std::string* error = nullptr);
    int fd() const { return fd_; }
    // A connected descriptor (non-blocking reads are the caller's choice), or
    // -1 when nothing is pending.
    int accept();
    void close();

  private:
    int fd_ = -1;
    std::string path_;
};

// Reads one record of at most max_len bytes, waiting up to `timeout`
// (negative: without limit) for it, or until `stop_fd` (when >= 0) is readable.
enum class RecvResult { Record, Closed, TooLong, TimedOut, Stopped, Failed };
RecvResult recv_record(int fd, std::string& out, size_t max_len,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(-1),
                       int stop_fd = -1);

// Sends one record. Non-blocking: when the peer's buffer stays full for
// `timeout`, gives up (returns false, errno EAGAIN).
bool send_record(int fd, std::string_view record,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(0));

// The account of the process at the other end of a connected socket, as it
// was when it connected (SO_PEERCRED); none on failure.
struct PeerCredentials {
    unsigned uid = 0;
    unsigned gid = 0;
    pid_t pid = 0;
};
std::optional<PeerCredentials> peer_credentials(int fd);

// Connects to a listening socket; -1 and errno on failure.
int connect_seqpacket(const std::string& path);

}  // namespace vardel::platform
