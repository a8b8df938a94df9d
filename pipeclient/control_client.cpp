#include "pipeclient/control_client.h"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/my_error.h"
#include "platform/local_socket.h"

namespace vardel {

ControlClient::ControlClient(std::string broken_text, std::string socket_path)
    : broken_text_(std::move(broken_text)),
      path_(socket_path.empty() ? platform::control_socket_path() : std::move(socket_path)) {
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

ControlClient::~ControlClient() {
    close();
    if (stop_fd_ >= 0) ::close(stop_fd_);
}

bool ControlClient::connect() {
    if (connected()) return true;
    int fd = platform::connect_seqpacket(path_);
    if (fd < 0) return false;
    fd_.store(fd);
    return true;
}

void ControlClient::start_reader(RecordHandler handler) {
    if (reader_.joinable()) reader_.join();
    reader_ = std::thread([this, h = std::move(handler)] { reader(h); });
}

void ControlClient::reader(RecordHandler handler) {
    std::string buf;
    int fd = fd_.load();
    while (fd >= 0) {
        platform::RecvResult r = platform::recv_record(fd, buf, PipeRecord::kMaxRecord,
                                                       std::chrono::milliseconds(-1), stop_fd_);
        if (r == platform::RecvResult::Stopped) return;  // our own close()
        if (r != platform::RecvResult::Record) break;
        if (auto rec = PipeRecord::decode(buf)) handler(*rec);
    }
    {
        // Under the write lock: a queue_message() in flight must not send on
        // a descriptor number that is closed, or already reused elsewhere.
        std::lock_guard lock(write_lock_);
        int old = fd_.exchange(-1);
        if (old >= 0) ::close(old);
    }
    handler(PipeRecord{PIPE_ALERT, broken_text_});
}

bool ControlClient::queue_message(uint32_t code, const std::string& text) {
    std::lock_guard lock(write_lock_);
    int fd = fd_.load();
    if (fd < 0) return false;
    return platform::send_record(fd, PipeRecord{code, text}.encode(),
                                 std::chrono::milliseconds(1000));
}

ControlClient::ReadResult ControlClient::read_record(PipeRecord& out,
                                                     std::chrono::milliseconds timeout) {
    int fd = fd_.load();
    if (fd < 0) return ReadResult::Closed;
    std::string buf;
    while (true) {
        platform::RecvResult r = platform::recv_record(fd, buf, PipeRecord::kMaxRecord, timeout);
        if (r == platform::RecvResult::TimedOut) return ReadResult::TimedOut;
        if (r != platform::RecvResult::Record) return ReadResult::Closed;
        if (auto rec = PipeRecord::decode(buf)) {
            out = *rec;
            return ReadResult::Record;
        }
    }
}

void ControlClient::close() {
    if (reader_.joinable()) {
        uint64_t one = 1;
        ssize_t n = ::write(stop_fd_, &one, sizeof one);
        (void)n;
        reader_.join();
        uint64_t v;
        n = ::read(stop_fd_, &v, sizeof v);
    }
    std::lock_guard lock(write_lock_);
    int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

void ControlClient::send_once(uint32_t code, const std::string& text,
                              const std::string& socket_path) {
    ControlClient c("", socket_path);
    if (!c.connect()) throw MyError(OPERATION_FAILED, "Couldn't open connection to service");
    // A request that never left must not pass for one sent.
    if (!c.queue_message(code, text)) throw MyError(OPERATION_FAILED, "QueueMessage failure");
    // Let the service read the record before the connection goes.
    ::shutdown(c.fd_.load(), SHUT_WR);
    PipeRecord ignored;
    c.read_record(ignored, std::chrono::milliseconds(2000));
}

}  // namespace vardel
