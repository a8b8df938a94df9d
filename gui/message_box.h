#pragma once
// The suite's message boxes: the design's text, caption and icon, and a
// plain set of buttons. Modal; GUI thread only (a worker hands its message
// to the GUI thread and waits for the answer).
#include <QString>
#include <memory>

class QMessageBox;
class QWidget;

namespace vardel {
class MyError;
}

namespace vardel::gui {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

// The box, made but not shown (screenshots show it themselves).
std::unique_ptr<QMessageBox> build_message_box(QWidget* parent, const QString& text,
                                               const QString& caption, MessageIcon icon,
                                               MessageButtons buttons = MessageButtons::Ok);

// Shows the box and waits for the answer. Closing the box with its close
// button or Escape answers Cancel (OkCancel, YesNoCancel), No (YesNo) or Ok.
MessageAnswer message_box(QWidget* parent, const QString& text, const QString& caption,
                          MessageIcon icon, MessageButtons buttons = MessageButtons::Ok);

// A MyError that reached a user action: its text, caption "Encountered an
// Error", error icon.
void show_error(QWidget* parent, const MyError& error);
inline constexpr const char* kErrorCaption = "Encountered an Error";

// The stop sound, for input that is refused without a message.
void beep();

}  // namespace vardel::gui
