#include "vardeld/pipe_server.h"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>

#include "common/install_layout.h"
#include "common/pipe_record.h"
#include "common/text_helpers.h"
#include "platform/accounts.h"

namespace vardel {

namespace {

std::chrono::steady_clock::rep now_ticks() {
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

}  // namespace

PipeServer::PipeServer(HandOver hand_over, StatusText status_text, MayControl may_control,
                       std::chrono::milliseconds idle_limit)
    : hand_over_(std::move(hand_over)),
      status_text_(std::move(status_text)),
      may_control_(std::move(may_control)),
      idle_limit_(idle_limit) {
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

bool PipeServer::default_may_control(unsigned uid, unsigned gid) {
    if (uid == 0 || uid == ::geteuid()) return true;
    std::optional<unsigned> group = platform::group_id(install::kControlGroup);
    if (!group) return false;
    if (gid == *group) return true;
    std::optional<platform::Account> user = platform::account_by_uid(uid);
    return user && platform::user_in_group(*user, install::kControlGroup);
}

bool PipeServer::changes_state(uint32_t code) {
    switch (code) {
        case PIPE_SHUT_DOWN:
        case PIPE_DISABLE:
        case PIPE_ENABLE:
        case PIPE_RUN_SET:
        case PIPE_PAUSE:
        case PIPE_RESUME:
        case PIPE_STOP:
            return true;
        default:
            return false;
    }
}

PipeServer::~PipeServer() {
    stop();
    if (stop_fd_ >= 0) ::close(stop_fd_);
}

bool PipeServer::open(const std::string& path) {
    std::string error;
    open_result_ = listener_.listen(path, &error);
    if (open_result_ != platform::SeqPacketListener::Result::Listening) {
        log(LOG_ERROR, "Can't open comms pipe -- %s\n", error.c_str());
        return false;
    }
    return true;
}

void PipeServer::accept() {
    while (true) {
        int fd = listener_.accept();
        if (fd < 0) return;
        Slot* free_slot = nullptr;
        int number = -1;
        for (int i = 0; i < kSlots; ++i) {
            if (!(slots_[i].bits.load() & InUse)) {
                free_slot = &slots_[i];
                number = i;
                break;
            }
        }
        if (!free_slot && (number = free_idle_slot()) >= 0) free_slot = &slots_[number];
        if (!free_slot) {
            ::close(fd);  // all nine in use: the client sees the connection end
            continue;
        }
        // Decided once, as the peer was when it connected.
        std::optional<platform::PeerCredentials> peer = platform::peer_credentials(fd);
        free_slot->may_control.store(peer && may_control_(peer->uid, peer->gid));
        free_slot->last_heard.store(now_ticks());
        // A slot's earlier reader has ended (it cleared InUse last).
        if (free_slot->reader.joinable()) free_slot->reader.join();
        {
            platform::MutexLock lock(free_slot->write_lock);
            free_slot->fd = fd;
            free_slot->stalled = false;
        }
        free_slot->bits.store(InUse);
        free_slot->reader = std::thread([this, number, fd] { reader_thread(number, fd); });
    }
}

int PipeServer::free_idle_slot() {
    const auto limit = std::chrono::duration_cast<std::chrono::steady_clock::duration>(idle_limit_);
    const auto now = now_ticks();
    int chosen = -1;
    bool chosen_waits = true;  // registered or following: waiting for notices by design
    std::chrono::steady_clock::rep chosen_heard = 0;
    for (int i = 0; i < kSlots; ++i) {
        uint32_t bits = slots_[i].bits.load();
        auto heard = slots_[i].last_heard.load();
        if (!(bits & InUse) || now - heard < limit.count()) continue;
        bool waits = (bits & (Registered | RequestOngoing)) != 0;
        if (chosen < 0 || (chosen_waits && !waits) ||
            (chosen_waits == waits && heard < chosen_heard)) {
            chosen = i;
            chosen_waits = waits;
            chosen_heard = heard;
        }
    }
    if (chosen < 0) return -1;
    Slot& slot = slots_[chosen];
    {
        platform::MutexLock lock(slot.write_lock);
        if (slot.fd >= 0) ::shutdown(slot.fd, SHUT_RDWR);
    }
    log(LOG_DEBUG, "Slot %d idle: closed to make room\n", chosen);
    // Its reader sees the end at once and frees the slot. A reader caught
    // handing a request to this (the control) thread cannot: it is waited
    // for a moment only, never joined here.
    for (int i = 0; i < 200 && (slot.bits.load() & InUse); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return (slot.bits.load() & InUse) ? -1 : chosen;
}

void PipeServer::reader_thread(int number, int fd) {
    Slot& slot = slots_[number];
    std::string buf;
    while (true) {
        platform::RecvResult r = platform::recv_record(fd, buf, PipeRecord::kMaxRecord,
                                                       std::chrono::milliseconds(-1), stop_fd_);
        if (r != platform::RecvResult::Record) {
            if (r == platform::RecvResult::TooLong)
                log(LOG_DEBUG, "Disconnect(2,%d) due to readfile -- %d: %s\n", number, EMSGSIZE,
                    system_error_text(EMSGSIZE));
            else if (r == platform::RecvResult::Failed)
                log(LOG_DEBUG, "Disconnect(2,%d) due to readfile -- %d: %s\n", number, errno,
                    system_error_text(errno));
            else if (r == platform::RecvResult::Closed)  // the client closed its end
                log(LOG_DEBUG, "Disconnect(2,%d) due to readfile -- %d: %s\n", number, EPIPE,
                    system_error_text(EPIPE));
            break;
        }
        slot.last_heard.store(now_ticks());
        std::optional<PipeRecord> rec = PipeRecord::decode(buf);
        if (!rec) continue;  // fewer than 4 bytes: nothing to act on
        if (changes_state(rec->code) && !slot.may_control.load()) {
            log(LOG_COMPLAIN, "Request %u refused: slot %d may not control the service\n",
                static_cast<unsigned>(rec->code), number);
            write(slot, PIPE_ALERT, kPermissionDeniedText);
            continue;
        }
        switch (rec->code) {
            case PIPE_REGISTER:
                log(LOG_DEBUG, "Register slot %d\n", number);
                slot.bits.fetch_or(Registered);
                break;
            case PIPE_SINGLE_STATUS:
                log(LOG_DEBUG, "Single status: slot %d\n", number);
                write(slot, PIPE_STATUS, status_text_());
                break;
            case PIPE_REQUEST_ONGOING:
                log(LOG_DEBUG, "Request Ongoing, slot %d\n", number);
                slot.bits.fetch_or(RequestOngoing);
                break;
            default:
                hand_over_(rec->code, rec->text, number);
                break;
        }
    }
    {
        platform::MutexLock lock(slot.write_lock);
        ::close(slot.fd);
        slot.fd = -1;
    }
    slot.bits.store(0);
}

void PipeServer::write(Slot& slot, uint32_t code, const std::string& text) {
    std::string bytes = PipeRecord{code, text}.encode();
    platform::MutexLock lock(slot.write_lock);
    if (slot.fd < 0) return;
    if (platform::send_record(slot.fd, bytes, std::chrono::milliseconds(0))) {
        slot.stalled = false;
        return;
    }
    // The record is dropped. A client that stays unreadable is let go, so it
    // can never hold up a backup that is logging.
    auto now = std::chrono::steady_clock::now();
    if (errno != EAGAIN) {
        ::shutdown(slot.fd, SHUT_RDWR);
    } else if (!slot.stalled) {
        slot.stalled = true;
        slot.stalled_since = now;
    } else if (now - slot.stalled_since > kStallLimit) {
        ::shutdown(slot.fd, SHUT_RDWR);
    }
}

void PipeServer::push(uint32_t bit, uint32_t code, const std::string& text) {
    for (Slot& s : slots_) {
        uint32_t b = s.bits.load();
        if ((b & InUse) && (b & bit)) write(s, code, text);
    }
}

void PipeServer::push_registered(uint32_t code, const std::string& text) {
    push(Registered, code, text);
}

void PipeServer::push_log_subscribers(uint32_t code, const std::string& text) {
    push(RequestOngoing, code, text);
}

void PipeServer::send_to_slot(int slot, uint32_t code, const std::string& text) {
    if (slot < 0 || slot >= kSlots) return;
    if (slots_[slot].bits.load() & InUse) write(slots_[slot], code, text);
}

int PipeServer::connected_count() const {
    int n = 0;
    for (const Slot& s : slots_) n += (s.bits.load() & InUse) ? 1 : 0;
    return n;
}

void PipeServer::stop() {
    if (stopped_.exchange(true)) return;
    listener_.close();
    uint64_t one = 1;
    ssize_t n = ::write(stop_fd_, &one, sizeof one);
    (void)n;
    for (Slot& s : slots_)
        if (s.reader.joinable()) s.reader.join();
}

void PipeLogSink::write_line(int level, std::string_view text) {
    server_.push_log_subscribers(level <= LOG_INFO ? PIPE_INFO : PIPE_ALERT, std::string(text));
}

}  // namespace vardel
