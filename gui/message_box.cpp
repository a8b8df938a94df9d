#include "gui/message_box.h"

#include <QApplication>
#include <QMessageBox>

#include "common/my_error.h"

namespace vardel::gui {

std::unique_ptr<QMessageBox> build_message_box(QWidget* parent, const QString& text,
                                               const QString& caption, MessageIcon icon,
                                               MessageButtons buttons) {
    auto made = std::make_unique<QMessageBox>(parent);
    QMessageBox& box = *made;
    box.setText(text);
    box.setWindowTitle(caption);
    switch (icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
    }
    switch (buttons) {
        case MessageButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MessageButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setEscapeButton(QMessageBox::Cancel);
            break;
        case MessageButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setEscapeButton(QMessageBox::No);
            break;
        case MessageButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setEscapeButton(QMessageBox::Cancel);
            break;
    }
    return made;
}

MessageAnswer message_box(QWidget* parent, const QString& text, const QString& caption,
                          MessageIcon icon, MessageButtons buttons) {
    std::unique_ptr<QMessageBox> box = build_message_box(parent, text, caption, icon, buttons);
    switch (box->exec()) {
        case QMessageBox::Cancel:
            return MessageAnswer::Cancel;
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        default:
            return buttons == MessageButtons::OkCancel || buttons == MessageButtons::YesNoCancel
                       ? MessageAnswer::Cancel
                   : buttons == MessageButtons::YesNo ? MessageAnswer::No
                                                      : MessageAnswer::Ok;
        case QMessageBox::Ok:
            return MessageAnswer::Ok;
    }
}

void show_error(QWidget* parent, const MyError& error) {
    message_box(parent, QString::fromLocal8Bit(error.message()), kErrorCaption, MessageIcon::Error);
}

void beep() {
    QApplication::beep();
}

}  // namespace vardel::gui
