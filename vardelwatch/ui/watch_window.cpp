#include "vardelwatch/ui/watch_window.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/pipe_record.h"
#include "common/suite_names.h"
#include "gui/dialog_units.h"
#include "gui/icons.h"
#include "gui/log_pane.h"
#include "gui/message_box.h"
#include "gui/saved_placement.h"
#include "gui/service_link.h"
#include "vardelwatch/ui/status_panel.h"

namespace vardel {

namespace {
constexpr int kMargin = 10;
}

WatchWindow::WatchWindow(const std::string& socket_path, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Backup Service Status"));
    setWindowIcon(gui::suite_icon());
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    setSizeGripEnabled(true);

    panel_ = new StatusPanel(state_, this);
    pane_ = new gui::LogPane(this);
    pane_->setObjectName("1006");
    pane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* close_button = new QPushButton(QStringLiteral("Close"), this);
    close_button->setObjectName("1");
    close_button->setDefault(true);
    connect(close_button, &QPushButton::clicked, this, &QDialog::accept);

    // The pane takes every pixel the window grows by; "Close" stays in the
    // bottom-right corner, 10 pixels from both edges.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, kMargin, kMargin);
    layout->setSpacing(kMargin);
    layout->addWidget(panel_);
    auto* pane_row = new QHBoxLayout;
    pane_row->setContentsMargins(kMargin, 0, 0, 0);
    pane_row->addWidget(pane_);
    layout->addLayout(pane_row, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close_button);
    layout->addLayout(buttons);

    link_ = new gui::ServiceLink(kSevered, socket_path, this);
    connect(link_, &gui::ServiceLink::received, this, &WatchWindow::take_record);
    connect(link_, &gui::ServiceLink::send_failed, this, &WatchWindow::queue_failure);

    resize(gui::dialog_units(*this, 320, 201));
    gui::restore_placement(*this, kWatchProgram);
}

WatchWindow::~WatchWindow() = default;

void WatchWindow::connect_to_service() {
    if (!link_->open()) {
        state_.connection_failed();
    } else {
        state_.connected();
        link_->send_in_turn(gui::ServiceLink::watch_handshake());
    }
    panel_->update();
}

void WatchWindow::take_record(const PipeRecord& record) {
    WatchState::Reaction r = state_.on_record(record.code, record.text);
    if (!r.pane_text.empty()) pane_->append_text(r.pane_text);
    if (r.repaint) panel_->update();
    if (r.ask_status && !link_->send(PIPE_SINGLE_STATUS)) queue_failure();
}

void WatchWindow::queue_failure() {
    // A broken connection is already told in the pane; only a write that
    // failed on a live one deserves the box.
    if (!link_->is_open()) return;
    gui::message_box(this, QStringLiteral("QueueMessage failure"), QStringLiteral("Oops"),
                     gui::MessageIcon::Warning);
}

void WatchWindow::done(int result) {
    gui::save_placement(*this, kWatchProgram);
    link_->close();
    QDialog::done(result);
}

}  // namespace vardel
