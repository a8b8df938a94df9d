#include "vardelwatch/watch_state.h"

#include "common/pipe_record.h"
#include "common/text_helpers.h"

namespace vardel {

WatchState::Reaction WatchState::on_record(uint32_t code, const std::string& text) {
    Reaction r;
    switch (code) {
        case PIPE_STATUS:
            status_ = ServiceStatus::parse(text);
            enabled_ = status_.enabled();
            running_ = status_.running();
            running_name_ = status_.running_set();
            display_ = Display::StatusKnown;
            r.repaint = true;
            break;
        case PIPE_BACKUP_STARTING:
            running_ = true;
            running_name_ = text;
            r.repaint = true;
            r.pane_text = strprintf("backup %s starting\n", text.c_str());
            break;
        case PIPE_BACKUP_COMPLETED:
            running_ = false;
            r.ask_status = true;
            r.pane_text = strprintf("backup %s complete\n", text.c_str());
            break;
        case PIPE_BACKUP_FAILED:
        case PIPE_BACKUP_ABORTED:
            // The log lines tell the pane about these; the panel must not go
            // on showing a run that has ended.
            running_ = false;
            r.ask_status = true;
            break;
        case PIPE_INFO:
        case PIPE_ALERT:
            // Log lines come with their line end; a notice such as the
            // 20-second warning does not, and would run into the next line.
            r.pane_text = text;
            if (text.empty() || text.back() != '\n') r.pane_text += '\n';
            break;
        default:
            break;
    }
    return r;
}

const char* WatchState::enabled_text() const {
    return enabled_ ? "Enabled" : "Disabled";
}

std::string WatchState::progress_text() const {
    if (running_) return strprintf("Backup In Progress -- %s", running_name_.c_str());
    return "Idle";
}

std::string WatchState::next_run_text() const {
    return running_ ? std::string() : status_.next_run();
}

const char* WatchState::waiting_text() const {
    switch (display_) {
        case Display::NoService:
            return "No Service Available";
        case Display::WaitingForNetwork:
            return "Waiting for Network Connection";
        case Display::WaitingForResponse:
            return "Waiting for Response from Service";
        case Display::StatusKnown:
            break;
    }
    return "";
}

}  // namespace vardel
