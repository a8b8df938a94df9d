#include "gui/service_link.h"

#include <QTimer>

namespace vardel::gui {

ServiceLink::ServiceLink(std::string broken_text, std::string socket_path, QObject* parent)
    : QObject(parent), client_(std::move(broken_text), std::move(socket_path)) {}

ServiceLink::~ServiceLink() {
    close();
}

bool ServiceLink::open() {
    if (is_open()) return true;
    if (!client_.connect()) return false;
    notifier_ = new QSocketNotifier(client_.descriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ServiceLink::readable);
    return true;
}

void ServiceLink::close() {
    ++generation_;
    in_turn_.clear();
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    client_.close();
}

bool ServiceLink::send(uint32_t code, const std::string& text) {
    return is_open() && client_.queue_message(code, text);
}

void ServiceLink::send_in_turn(std::vector<uint32_t> codes) {
    bool idle = in_turn_.empty();
    in_turn_.insert(in_turn_.end(), codes.begin(), codes.end());
    if (idle && !in_turn_.empty()) QTimer::singleShot(0, this, &ServiceLink::send_next);
}

void ServiceLink::send_next() {
    if (in_turn_.empty()) return;
    uint32_t code = in_turn_.front();
    in_turn_.pop_front();
    if (!send(code)) {
        in_turn_.clear();
        emit send_failed(code);
        return;
    }
    if (!in_turn_.empty()) QTimer::singleShot(0, this, &ServiceLink::send_next);
}

std::vector<uint32_t> ServiceLink::watch_handshake() {
    return {PIPE_SINGLE_STATUS, PIPE_REGISTER, PIPE_REQUEST_ONGOING};
}

void ServiceLink::readable() {
    // A slot that runs a nested event loop would otherwise read the next
    // records in the middle of this batch and hand them out first.
    if (dispatching_ || !notifier_) return;
    notifier_->setEnabled(false);
    std::vector<PipeRecord> records = client_.read_available();
    bool broke = !client_.connected();
    QPointer<ServiceLink> self(this);
    const uint64_t generation = generation_;
    dispatching_ = true;
    for (const PipeRecord& r : records) {
        emit received(r);
        if (!self) return;
        // Closed by a slot: the rest of the batch went with that connection.
        if (generation_ != generation) break;
    }
    dispatching_ = false;
    if (generation_ != generation) return;
    if (broke) {
        close();
        emit broken();
        return;
    }
    notifier_->setEnabled(true);
}

}  // namespace vardel::gui
