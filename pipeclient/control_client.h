#pragma once
// The client side of the control socket, shared by the tray controller, the
// status window, the manual starter and vardelctl.
//
// Two ways to follow the service:
// - A reader thread (start_reader()) hands every record to a callback on
//   that thread and, when the connection breaks, one last PIPE_ALERT record
//   with the program's broken-connection text.
// - No thread (a window's event loop): watch descriptor() for input (poll(),
//   QSocketNotifier) and call read_available(), which hands back every
//   record waiting and, once the service has gone, that same last record.
//
// close() never waits for a callback in progress: a callback that hands its
// record to the thread now closing (a blocking queued call) would otherwise
// never return. Such a callback finishes on its own afterwards; the records
// after it are dropped. A callback must therefore not use the client once
// its owner may have closed it.
//
// Thread safety: queue_message() from any thread (writes are serialised);
// connect(), read_available(), close() from the owning thread.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/pipe_record.h"

namespace vardel {

class ControlClient {
  public:
    using RecordHandler = std::function<void(const PipeRecord&)>;

    // `broken_text`: what is handed over when the connection breaks
    // ("Service connection broken!", "Connection to service severed").
    explicit ControlClient(std::string broken_text = "Service connection broken!",
                           std::string socket_path = {});
    ~ControlClient();
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    // Opens the connection (closing a broken one first); false when no
    // service answers.
    bool connect();
    // Open and not broken.
    bool connected() const { return fd_.load() >= 0 && !broken_.load(); }
    // Starts the reader thread (after connect()).
    void start_reader(RecordHandler handler);
    // Sends one record, waiting up to 1000 ms for room. False on failure.
    bool queue_message(uint32_t code, const std::string& text = {});

    // The connection's descriptor for a watcher on the caller's thread; -1
    // when none. It stays open, even after the connection broke, until
    // close(), so a watcher never sees its number reused.
    int descriptor() const { return fd_.load(); }
    // Every record waiting, without blocking; after the service has gone,
    // they end with the broken-connection record (handed over once; the
    // connection then counts as closed). Not while a reader thread runs.
    std::vector<PipeRecord> read_available();
    // Reads one record on this thread, waiting up to `timeout`.
    enum class ReadResult { Record, Closed, TimedOut };
    ReadResult read_record(PipeRecord& out, std::chrono::milliseconds timeout);

    // Stops the reader (without waiting for a callback in progress) and
    // closes the connection.
    void close();

    // One request (PIPE_RUN_SET, ...) on a fresh connection, then closed
    // once the service has read it. Throws MyError 18 "Couldn't open
    // connection to service" when no service answers, "QueueMessage
    // failure" when the record could not be written, and "Permission
    // denied" when the service refuses the request to this account.
    static void send_once(uint32_t code, const std::string& text,
                          const std::string& socket_path = {});

    const std::string& socket_path() const { return path_; }

  private:
    struct Reader;
    static void read_loop(const std::shared_ptr<Reader>& reader, ControlClient* client, int fd);

    std::string broken_text_;
    std::string path_;
    std::atomic<int> fd_{-1};
    std::atomic<bool> broken_{false};
    std::mutex write_lock_;
    // Shared with the reader thread, which may outlive close() while its
    // callback finishes.
    std::shared_ptr<Reader> reader_state_;
    std::thread reader_;
};

}  // namespace vardel
