#pragma once
// A window's connection to the backup service: the control socket watched
// on the GUI thread (no reader thread), every record the service sends
// handed out as a signal in the order it came, and one last PIPE_ALERT
// record with the program's broken-connection text when the service goes
// away. The status window and the tray controller build on it.
//
// GUI thread only. Slots connected to received() may close or destroy the
// link, and may run a nested event loop (a message box): records still come
// out one at a time and in order.
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "common/pipe_record.h"
#include "pipeclient/control_client.h"

namespace vardel::gui {

class ServiceLink : public QObject {
    Q_OBJECT

  public:
    // `broken_text`: the record handed out when the connection breaks
    // ("Connection to service severed", "Service connection broken!").
    // An empty `socket_path` is the service's own socket.
    explicit ServiceLink(std::string broken_text, std::string socket_path = {},
                         QObject* parent = nullptr);
    ~ServiceLink() override;

    // Connects (a no-op when connected); false when no service answers.
    bool open();
    bool is_open() const { return client_.connected() && notifier_ != nullptr; }
    // Writes one request now. False when there is no connection or the
    // record could not be written.
    bool send(uint32_t code, const std::string& text = {});
    // Writes the requests one after another, each on its own turn of the
    // event loop once the one before was written, so the window stays live
    // in between. A request that cannot be written stops the rest and is
    // reported by send_failed().
    void send_in_turn(std::vector<uint32_t> codes);
    // Drops the connection without the broken-connection record.
    void close();

    // The requests of the status window's handshake: the status once, the
    // notices, the log lines.
    static std::vector<uint32_t> watch_handshake();

  signals:
    void received(const vardel::PipeRecord& record);
    // After the broken-connection record: the link is closed.
    void broken();
    void send_failed(uint32_t code);

  private:
    void readable();
    void send_next();

    ControlClient client_;
    QSocketNotifier* notifier_ = nullptr;
    std::deque<uint32_t> in_turn_;
    bool dispatching_ = false;
    uint64_t generation_ = 0;  // counts close(), so a batch sees a slot close the link
};

}  // namespace vardel::gui
