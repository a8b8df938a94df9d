#include "vardelrestore/ui/window_ui.h"

#include <QMetaObject>
#include <QThread>

#include "gui/message_box.h"
#include "vardelrestore/ui/prompt_dialog.h"

namespace vardel {

namespace {

gui::MessageIcon icon_of(MessageKind kind) {
    switch (kind) {
        case MessageKind::Information:
            return gui::MessageIcon::Information;
        case MessageKind::Warning:
            return gui::MessageIcon::Warning;
        default:
            return gui::MessageIcon::Error;
    }
}

QString text_of(const std::string& s) {
    QString t = QString::fromStdString(s);
    while (t.endsWith('\n') || t.endsWith('\r')) t.chop(1);
    return t;
}

}  // namespace

WindowUi::WindowUi(QWidget* owner, std::function<void(QString)> on_extracting,
                   std::function<void(QString)> on_activity)
    : owner_(owner),
      on_extracting_(std::move(on_extracting)),
      on_activity_(std::move(on_activity)) {}

void WindowUi::on_gui(const std::function<void()>& fn) {
    QWidget* owner = owner_.data();
    if (!owner) return;
    if (QThread::currentThread() == owner->thread())
        fn();
    else
        QMetaObject::invokeMethod(owner, fn, Qt::BlockingQueuedConnection);
}

void WindowUi::message(const std::string& text, const std::string& caption, MessageKind kind) {
    on_gui([&] {
        gui::message_box(owner_.data(), text_of(text), QString::fromStdString(caption),
                         icon_of(kind));
    });
}

bool WindowUi::confirm(const std::string& text, const std::string& caption, MessageKind kind) {
    bool ok = false;
    on_gui([&] {
        ok = gui::message_box(owner_.data(), text_of(text), QString::fromStdString(caption),
                              icon_of(kind),
                              gui::MessageButtons::OkCancel) == gui::MessageAnswer::Ok;
    });
    return ok;
}

PromptAnswer WindowUi::ask_overwrite(const std::string& target) {
    PromptAnswer a = PromptAnswer::No;
    on_gui([&] {
        a = PromptDialog::ask(PromptDialog::Kind::Overwrite, QString::fromStdString(target),
                              owner_.data());
    });
    return a;
}

PromptAnswer WindowUi::ask_delete(const std::string& target) {
    PromptAnswer a = PromptAnswer::No;
    on_gui([&] {
        a = PromptDialog::ask(PromptDialog::Kind::Delete, QString::fromStdString(target),
                              owner_.data());
    });
    return a;
}

void WindowUi::extracting(const std::string& path) {
    if (!on_extracting_ || !owner_) return;
    {
        std::lock_guard<std::mutex> guard(latest_->mutex);
        latest_->path = QString::fromStdString(path);
    }
    if (latest_->pending.exchange(true)) return;
    QMetaObject::invokeMethod(
        owner_.data(),
        [fn = on_extracting_, latest = latest_] {
            QString p;
            {
                std::lock_guard<std::mutex> guard(latest->mutex);
                p = latest->path;
                latest->pending = false;
            }
            fn(p);
        },
        Qt::QueuedConnection);
}

void WindowUi::activity(const char* text) {
    if (!on_activity_ || !owner_) return;
    QMetaObject::invokeMethod(
        owner_.data(), [fn = on_activity_, t = QString::fromLatin1(text)] { fn(t); },
        Qt::QueuedConnection);
}

}  // namespace vardel
