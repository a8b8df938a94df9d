#pragma once
// The "Backup Service Status" window: the painted status panel above a
// pane that follows the service's notices and log lines, and "Close".
// It connects once when it opens and sends no commands. GUI thread only.
#include <QDialog>

#include "vardelwatch/watch_state.h"

namespace vardel {

namespace gui {
class LogPane;
class ServiceLink;
}  // namespace gui
class StatusPanel;
struct PipeRecord;

class WatchWindow : public QDialog {
    Q_OBJECT

  public:
    // The broken-connection line of the pane.
    static constexpr const char* kSevered = "Connection to service severed";

    // An empty `socket_path` is the service's own socket.
    explicit WatchWindow(const std::string& socket_path = {}, QWidget* parent = nullptr);
    ~WatchWindow() override;

    // Connects and starts the handshake; the panel says when no service answers.
    void connect_to_service();

    // Handles one record as if it came from the service (the link calls it;
    // the screenshots feed it samples).
    void take_record(const PipeRecord& record);

    const WatchState& state() const { return state_; }
    gui::LogPane* pane() const { return pane_; }
    gui::ServiceLink* link() const { return link_; }

    void done(int result) override;

  private:
    void queue_failure();

    WatchState state_;
    StatusPanel* panel_;
    gui::LogPane* pane_;
    gui::ServiceLink* link_;
};

}  // namespace vardel
