#include "vardelremove/ui/remove_dialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/banner_header.h"
#include "gui/dialog_units.h"
#include "gui/help_opener.h"
#include "gui/icons.h"
#include "gui/log_pane.h"
#include "gui/message_box.h"

namespace vardel {

namespace {

constexpr int kHelpContext = 170;

}  // namespace

RemoveDialog::RemoveDialog(Uninstaller& remover, QWidget* parent)
    : QDialog(parent), remover_(remover) {
    remover_.set_view([this](const std::string& text) {
        QString t = QString::fromStdString(text);
        QMetaObject::invokeMethod(
            this, [this, t] { log_->append_text(t); }, Qt::QueuedConnection);
    });
    setWindowTitle(QStringLiteral("Uninstall Vardel"));
    setWindowIcon(gui::suite_icon());

    auto* text = new QLabel(
        QStringLiteral("This program will set up the removal of Vardel from your system. To "
                       "complete the uninstallation process you will need to reboot your system."),
        this);
    text->setWordWrap(true);
    QFont bold = text->font();
    bold.setBold(true);
    text->setFont(bold);
    auto* click = new QLabel(QStringLiteral("Click UNINSTALL to begin the uninstall."), this);
    log_ = new gui::LogPane(this);
    log_->setObjectName(QStringLiteral("log"));
    log_->setTabStopDistance(log_->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 40);
    log_->hide();

    help_ = new QPushButton(QStringLiteral("Help"), this);
    help_->setObjectName(QStringLiteral("help"));
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    uninstall_ = new QPushButton(QStringLiteral("Uninstall"), this);
    uninstall_->setObjectName(QStringLiteral("uninstall"));
    uninstall_->setDefault(true);
    for (QPushButton* b : {help_, cancel_}) b->setAutoDefault(false);
    connect(help_, &QPushButton::clicked, this,
            [this] { gui::HelpOpener().open(this, kHelpContext); });
    connect(cancel_, &QPushButton::clicked, this, [this] { done(0); });
    connect(uninstall_, &QPushButton::clicked, this, &RemoveDialog::press_default);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(16, 12, 16, 12);
    body->addWidget(text);
    body->addSpacing(6);
    body->addWidget(click);
    body->addWidget(log_, 1);
    body->addStretch(0);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(11, 11, 11, 0);
    buttons->addWidget(help_);
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    buttons->addWidget(uninstall_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 11);
    column->setSpacing(0);
    column->addWidget(new gui::BannerHeader(this));
    column->addWidget(gui::etched_line(this));
    column->addLayout(body, 1);
    column->addWidget(gui::etched_line(this));
    column->addLayout(buttons);
    resize(gui::dialog_units(*this, 300, 200));
}

RemoveDialog::~RemoveDialog() {
    if (worker_.joinable()) worker_.join();
    remover_.set_view(nullptr);
}

void RemoveDialog::press_default() {
    if (ended_) {
        done(ok_ ? 1 : 0);
        return;
    }
    if (!running_) start_uninstall();
}

void RemoveDialog::start_uninstall() {
    running_ = true;
    log_->show();
    cancel_->setEnabled(false);
    uninstall_->setEnabled(false);
    worker_ = std::thread([this] {
        bool ok = remover_.uninstall();
        QMetaObject::invokeMethod(
            this, [this, ok] { ended(ok); }, Qt::QueuedConnection);
    });
}

void RemoveDialog::ended(bool ok) {
    if (worker_.joinable()) worker_.join();
    running_ = false;
    ended_ = true;
    ok_ = ok;
    if (!ok) {
        remover_.log_message("Uninstall failed");
        gui::message_box(this, QStringLiteral("Uninstall failed"), QStringLiteral("Error!"),
                         gui::MessageIcon::Error);
    }
    uninstall_->setText(ok ? QStringLiteral("Done") : QStringLiteral("Exit"));
    uninstall_->setEnabled(true);
    uninstall_->setFocus();
}

void RemoveDialog::show_for_screenshot(const QString& log, bool ok) {
    log_->show();
    log_->append_text(log);
    cancel_->setEnabled(false);
    uninstall_->setText(ok ? QStringLiteral("Done") : QStringLiteral("Exit"));
}

void RemoveDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (running_) return;
    done(ended_ && ok_ ? 1 : 0);
}

void RemoveDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        if (!running_) done(ended_ && ok_ ? 1 : 0);
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace vardel
