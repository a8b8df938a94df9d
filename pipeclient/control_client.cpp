#include "pipeclient/control_client.h"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>

#include "common/my_error.h"
#include "platform/local_socket.h"

namespace vardel {

// What the reader thread and close() share. The client is touched by the
// reader only under `mutex` while `closing` is false: close() sets it under
// the same mutex before the client can go.
struct ControlClient::Reader {
    std::mutex mutex;
    bool closing = false;
    bool in_handler = false;
    RecordHandler handler;
    std::string broken_text;
    int stop_fd = -1;

    ~Reader() {
        if (stop_fd >= 0) ::close(stop_fd);
    }
};

ControlClient::ControlClient(std::string broken_text, std::string socket_path)
    : broken_text_(std::move(broken_text)),
      path_(socket_path.empty() ? platform::control_socket_path() : std::move(socket_path)) {}

ControlClient::~ControlClient() {
    close();
}

bool ControlClient::connect() {
    if (connected()) return true;
    close();
    int fd = platform::connect_seqpacket(path_);
    if (fd < 0) return false;
    fd_.store(fd);
    return true;
}

void ControlClient::start_reader(RecordHandler handler) {
    int fd = fd_.load();
    if (fd < 0 || reader_.joinable()) return;
    auto state = std::make_shared<Reader>();
    state->handler = std::move(handler);
    state->broken_text = broken_text_;
    state->stop_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    reader_state_ = state;
    reader_ = std::thread([state, this, fd] { read_loop(state, this, fd); });
}

void ControlClient::read_loop(const std::shared_ptr<Reader>& st, ControlClient* client, int fd) {
    std::string buf;
    while (true) {
        platform::RecvResult r = platform::recv_record(fd, buf, PipeRecord::kMaxRecord,
                                                       std::chrono::milliseconds(-1), st->stop_fd);
        if (r == platform::RecvResult::Stopped) return;  // our own close()
        bool last = r != platform::RecvResult::Record;
        std::optional<PipeRecord> rec =
            last ? PipeRecord{PIPE_ALERT, st->broken_text} : PipeRecord::decode(buf);
        if (!rec) continue;
        {
            std::lock_guard lock(st->mutex);
            if (st->closing) return;
            if (last) client->broken_.store(true);
            st->in_handler = true;
        }
        st->handler(*rec);
        std::lock_guard lock(st->mutex);
        st->in_handler = false;
        if (st->closing || last) return;
    }
}

bool ControlClient::queue_message(uint32_t code, const std::string& text) {
    std::lock_guard lock(write_lock_);
    int fd = fd_.load();
    if (fd < 0 || broken_.load()) return false;
    return platform::send_record(fd, PipeRecord{code, text}.encode(),
                                 std::chrono::milliseconds(1000));
}

std::vector<PipeRecord> ControlClient::read_available() {
    std::vector<PipeRecord> out;
    int fd = fd_.load();
    if (fd < 0 || broken_.load()) return out;
    std::string buf;
    while (true) {
        platform::RecvResult r =
            platform::recv_record(fd, buf, PipeRecord::kMaxRecord, std::chrono::milliseconds(0));
        if (r == platform::RecvResult::TimedOut) return out;
        if (r != platform::RecvResult::Record) {
            broken_.store(true);
            out.push_back(PipeRecord{PIPE_ALERT, broken_text_});
            return out;
        }
        if (auto rec = PipeRecord::decode(buf)) out.push_back(std::move(*rec));
    }
}

ControlClient::ReadResult ControlClient::read_record(PipeRecord& out,
                                                     std::chrono::milliseconds timeout) {
    int fd = fd_.load();
    if (fd < 0 || broken_.load()) return ReadResult::Closed;
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
    if (std::shared_ptr<Reader> st = std::move(reader_state_)) {
        bool wait;
        {
            std::lock_guard lock(st->mutex);
            st->closing = true;
            wait = !st->in_handler;
        }
        uint64_t one = 1;
        ssize_t n = ::write(st->stop_fd, &one, sizeof one);
        (void)n;
        // A callback in progress may be waiting for this very thread: let
        // it finish on its own. Otherwise the reader is at most polling and
        // leaves at once.
        if (wait && reader_.get_id() != std::this_thread::get_id())
            reader_.join();
        else
            reader_.detach();
    }
    std::lock_guard lock(write_lock_);
    int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
    broken_.store(false);
}

void ControlClient::send_once(uint32_t code, const std::string& text,
                              const std::string& socket_path) {
    ControlClient c("", socket_path);
    if (!c.connect()) throw MyError(OPERATION_FAILED, "Couldn't open connection to service");
    // A request that never left must not pass for one sent.
    if (!c.queue_message(code, text)) throw MyError(OPERATION_FAILED, "QueueMessage failure");
    // Let the service read the record before the connection goes.
    ::shutdown(c.fd_.load(), SHUT_WR);
    // The service answers only to refuse, before it sees the end.
    PipeRecord answer;
    if (c.read_record(answer, std::chrono::milliseconds(2000)) == ReadResult::Record &&
        answer.code == PIPE_ALERT && answer.text == kPermissionDeniedText)
        throw MyError(OPERATION_FAILED, kPermissionDeniedText);
}

}  // namespace vardel
