#pragma once
// vardelwatch's logic: what the status window shows, driven by the records
// of the service's socket. The window paints from it and appends what it
// returns to its pane; it holds no widgets.
//
// One thread (the GUI thread).
#include <cstdint>
#include <string>

#include "pipeclient/service_status.h"

namespace vardel {

class WatchState {
  public:
    // The numbers are the ones the service's log and older tools use.
    enum class Display {
        NoService = 0,
        WaitingForNetwork = 2,
        WaitingForResponse = 3,
        StatusKnown = 4
    };

    Display display() const { return display_; }
    // The connection attempt at start: failed, or made (the status is
    // asked for next).
    void connection_failed() { display_ = Display::NoService; }
    void connected() { display_ = Display::WaitingForResponse; }

    struct Reaction {
        bool repaint = false;
        bool ask_status = false;  // send PIPE_SINGLE_STATUS now
        std::string pane_text;    // append to the pane as it stands
    };
    Reaction on_record(uint32_t code, const std::string& text);

    // The panel, when the status is known.
    const char* enabled_text() const;   // "Enabled" / "Disabled"
    std::string progress_text() const;  // "Backup In Progress -- %s" / "Idle"
    std::string next_run_text() const;  // empty while a backup runs
    // The one line shown while the status is not known.
    const char* waiting_text() const;

  private:
    Display display_ = Display::WaitingForNetwork;
    bool enabled_ = false;
    bool running_ = false;
    std::string running_name_;
    ServiceStatus status_;
};

}  // namespace vardel
