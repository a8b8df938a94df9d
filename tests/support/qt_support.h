#pragma once
// Widget tests: one offscreen QApplication for the whole test binary (this
// library brings its main()), and modal dialogs answered as a user would,
// from a timer, while the code under test waits in exec().
#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>

namespace vardel::test {

// Calls `answer` with the next modal window that opens (on the GUI thread,
// while the caller's exec() runs), or the next whose caption is `caption`
// when one is given. `answer` closes it, e.g. by clicking. Gives up after
// 20 s with a test failure.
void on_next_modal(std::function<void(QWidget*)> answer, const QString& caption = {});

// Runs the event loop until `cond` holds; false after `timeout`.
bool pump_until(const std::function<bool()>& cond,
                std::chrono::milliseconds timeout = std::chrono::seconds(30));

// The button of `dialog` whose text (mnemonic "&" removed) is `text`; clicks it.
// False when there is none.
bool click_button(QWidget* dialog, const QString& text);

}  // namespace vardel::test
