#include "vardelrestore/ui/progress_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace vardel {

ProgressDialog::ProgressDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("107");
    setWindowTitle("Extracting Files...");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Extracting:"));
    item_ = new QPlainTextEdit;
    item_->setObjectName("1020");
    item_->setReadOnly(true);
    item_->setMinimumSize(440, 60);
    item_->setMaximumHeight(80);
    layout->addWidget(item_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::rejected, this, &ProgressDialog::reject);
    layout->addWidget(buttons);
}

ProgressDialog::~ProgressDialog() {
    stop_ = true;
    if (worker_.joinable()) worker_.join();
}

void ProgressDialog::show_item(const QString& path) {
    item_->setPlainText(path);
}

bool ProgressDialog::run(const std::function<bool()>& work) {
    finished_ = false;
    stop_ = false;
    // The worker starts once the dialog is up, so its first question has a window to go over.
    QTimer::singleShot(0, this, [this, work] {
        worker_ = std::thread([this, work] {
            bool ok = work();
            QMetaObject::invokeMethod(
                this,
                [this, ok] {
                    if (worker_.joinable()) worker_.join();
                    finished_ = true;
                    result_ = ok && !stop_;
                    QDialog::accept();
                },
                Qt::QueuedConnection);
        });
    });
    exec();
    return result_;
}

void ProgressDialog::reject() {
    // The dialog stays until the worker has let go of everything it uses.
    stop_ = true;
    if (finished_) QDialog::reject();
}

}  // namespace vardel
