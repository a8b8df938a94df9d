#include "vardelsetup/ui/setup_box.h"

#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "gui/dialog_units.h"
#include "gui/icons.h"

namespace vardel {

SetupBox::SetupBox(std::span<const unsigned char> payload, const std::string& scratch,
                   QWidget* parent)
    : QDialog(parent), unpacker_(payload, scratch, [this](const char* status, int percent) {
          QString text = QString::fromLatin1(status);
          QMetaObject::invokeMethod(
              this, [this, text, percent] { show_progress(text, percent); }, Qt::QueuedConnection);
      }) {
    setWindowTitle(QStringLiteral("Vardel Installation Setup"));
    setWindowIcon(gui::suite_icon());
    auto* icon = new QLabel(this);
    icon->setPixmap(gui::suite_icon().pixmap(32, 32));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("progress"));
    bar_->setRange(0, 100);
    bar_->setTextVisible(false);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    connect(cancel, &QPushButton::clicked, this, &SetupBox::reject);

    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(status_, 0, 1);
    grid->addWidget(bar_, 1, 1);
    grid->addWidget(cancel, 2, 1, Qt::AlignRight);
    grid->setColumnStretch(1, 1);
    resize(gui::dialog_units(*this, 200, 60));
}

SetupBox::~SetupBox() {
    unpacker_.cancel();
    if (worker_.joinable()) worker_.join();
}

void SetupBox::show_progress(const QString& status, int percent) {
    status_->setText(status);
    bar_->setValue(percent);
}

int SetupBox::exec() {
    worker_ = std::thread([this] {
        bool ok = unpacker_.run();
        QMetaObject::invokeMethod(
            this, [this, ok] { finished(ok); }, Qt::QueuedConnection);
    });
    return QDialog::exec();
}

void SetupBox::finished(bool ok) {
    if (!isVisible()) return;
    if (!ok) {
        done(Rejected);
        return;
    }
    // "Done." stays in view a moment before the wizard comes.
    QTimer::singleShot(500, this, [this] { done(Accepted); });
}

void SetupBox::reject() {
    unpacker_.cancel();
    QDialog::reject();
}

}  // namespace vardel
