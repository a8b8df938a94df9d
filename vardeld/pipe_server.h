#pragma once
// The server side of the control socket: the listening socket (accepted on
// the control thread by the main loop), nine client slots, one reader thread
// per connected client.
//
// Codes 1, 2 and 3 are handled on the reader thread; every other request is
// handed to the control thread synchronously (the hand-over callback is
// expected to send WUM_CONTROL through the message loop).
//
// Writes never block the service: a record that a client's socket cannot
// take at once is dropped, and a client that takes nothing for
// kStallLimit is disconnected. Writes to one slot are made one at a time.
//
// Every local account may connect and read (status, register, log lines);
// the requests that change the service's state (shut down, disable, enable,
// run, pause, resume, stop) are taken only from the accounts `may_control`
// accepts (by default root, the service's own account and members of the
// group "vardel", by the peer's credentials) and answered "Permission
// denied" (code 18) otherwise, so one account cannot stop everyone's
// backups. When all nine slots are taken, a client that has sent nothing
// for kIdleLimit (10 s) is closed to make room for a new one; those that asked
// for nothing are let go before the ones waiting for notices.
//
// Thread safety: accept() on the control thread; the push and send calls
// from any thread; stop() once, from the control thread, after the main loop
// has ended.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "common/log.h"
#include "platform/local_socket.h"
#include "platform/thread_annotations.h"

namespace vardel {

class PipeServer {
  public:
    static constexpr int kSlots = 9;
    static constexpr auto kStallLimit = std::chrono::seconds(5);
    static constexpr std::chrono::milliseconds kIdleLimit{10000};

    enum SlotBits : uint32_t { InUse = 1, Registered = 2, RequestOngoing = 4 };

    // Hand-over of a request to the control thread: code, text, slot number.
    using HandOver = std::function<void(uint32_t code, const std::string& text, int slot)>;
    // The status text, built when a client asks (code 2).
    using StatusText = std::function<std::string()>;
    // Whether the account (user and group id of the peer) may change the
    // service's state.
    using MayControl = std::function<bool(unsigned uid, unsigned gid)>;

    PipeServer(HandOver hand_over, StatusText status_text,
               MayControl may_control = default_may_control,
               std::chrono::milliseconds idle_limit = kIdleLimit);
    static bool default_may_control(unsigned uid, unsigned gid);
    // The requests that change the service's state.
    static bool changes_state(uint32_t code);
    ~PipeServer();
    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;

    // Opens the listening socket. On failure logs ERROR
    // "Can't open comms pipe -- %s\n" and returns false.
    bool open(const std::string& path);
    platform::SeqPacketListener::Result open_result() const { return open_result_; }
    int listen_fd() const { return listener_.fd(); }
    // Takes every pending connection into a free slot (making one of an idle
    // client's when all nine are in use), or closes it when none is free.
    void accept();

    void push_registered(uint32_t code, const std::string& text);
    void push_log_subscribers(uint32_t code, const std::string& text);
    void send_to_slot(int slot, uint32_t code, const std::string& text);

    // Disconnects every client, joins the reader threads, closes the socket.
    void stop();

    uint32_t slot_bits(int slot) const { return slots_[slot].bits.load(); }
    int connected_count() const;

  private:
    struct Slot {
        std::atomic<uint32_t> bits{0};
        std::atomic<bool> may_control{false};
        // When the client last sent a record (or connected), steady clock.
        std::atomic<std::chrono::steady_clock::rep> last_heard{0};
        platform::Mutex write_lock;
        int fd GUARDED_BY(write_lock) = -1;
        std::chrono::steady_clock::time_point stalled_since GUARDED_BY(write_lock){};
        bool stalled GUARDED_BY(write_lock) = false;
        std::thread reader;  // started by accept(), joined by stop(): the control thread
    };

    void reader_thread(int slot_number, int fd);
    // Closes the longest idle client when it has been idle for idle_limit_
    // and waits for its slot to free; the slot, or -1.
    int free_idle_slot();
    void write(Slot& slot, uint32_t code, const std::string& text) EXCLUDES(slot.write_lock);
    void push(uint32_t bit, uint32_t code, const std::string& text);

    HandOver hand_over_;
    StatusText status_text_;
    MayControl may_control_;
    std::chrono::milliseconds idle_limit_;
    platform::SeqPacketListener listener_;
    platform::SeqPacketListener::Result open_result_ = platform::SeqPacketListener::Result::Failed;
    std::array<Slot, kSlots> slots_;
    int stop_fd_ = -1;  // an eventfd that wakes every reader at stop()
    std::atomic<bool> stopped_{false};
};

// The log call's sink for clients that follow the log: code 17 for levels
// 0 to 2, 18 for 3 to 5.
class PipeLogSink : public LogSink {
  public:
    explicit PipeLogSink(PipeServer& server) : server_(server) {}
    void write_line(int level, std::string_view text) override;

  private:
    PipeServer& server_;
};

}  // namespace vardel
