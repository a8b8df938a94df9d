#pragma once
// The client side of the control socket, shared by the tray controller, the
// status window, the manual starter and vardelctl.
//
// A client that keeps its connection starts one reader thread, which hands
// every record to the callback (on the reader thread: windowed programs pass
// it on to their GUI thread) and, when the connection breaks, one last
// PIPE_ALERT record with the program's broken-connection text.
//
// Thread safety: queue_message() from any thread (writes are serialised);
// connect()/close() from the owning thread.
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "common/pipe_record.h"

namespace vardel {

class ControlClient {
  public:
    using RecordHandler = std::function<void(const PipeRecord&)>;

    // `broken_text`: what the reader hands over when the connection breaks
    // ("Service connection broken!", "Connection to service severed").
    explicit ControlClient(std::string broken_text = "Service connection broken!",
                           std::string socket_path = {});
    ~ControlClient();
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    // Opens the connection; false when no service answers.
    bool connect();
    bool connected() const { return fd_.load() >= 0; }
    // Starts the reader thread (after connect()).
    void start_reader(RecordHandler handler);
    // Sends one record, waiting up to 1000 ms for room. False on failure.
    bool queue_message(uint32_t code, const std::string& text = {});
    // Reads one record on this thread (for clients without a reader thread).
    enum class ReadResult { Record, Closed, TimedOut };
    ReadResult read_record(PipeRecord& out, std::chrono::milliseconds timeout);
    void close();

    // One request (PIPE_RUN_SET, ...) on a fresh connection, then closed
    // once the service has read it. Throws MyError 18 "Couldn't open
    // connection to service" when no service answers, and "QueueMessage
    // failure" when the record could not be written.
    static void send_once(uint32_t code, const std::string& text,
                          const std::string& socket_path = {});

    const std::string& socket_path() const { return path_; }

  private:
    void reader(RecordHandler handler);

    std::string broken_text_;
    std::string path_;
    std::atomic<int> fd_{-1};
    std::mutex write_lock_;
    std::thread reader_;
    int stop_fd_ = -1;
};

}  // namespace vardel
