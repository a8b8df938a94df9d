#pragma once
// Keeps a MyError from ever unwinding through Qt: a slot's error becomes
// the suite's error box ("Encountered an Error") and the window goes on.
//
// guard() wraps a slot where it is connected; that is the normal way, since
// an exception must not pass through Qt's own frames. GuardedApplication
// catches, as a last resort, what escapes an event handler anyway.
// GUI thread only.
#include <QApplication>
#include <QPointer>
#include <exception>
#include <type_traits>
#include <utility>

#include "common/my_error.h"
#include "gui/message_box.h"

namespace vardel::gui {

// Shows what a user action threw: a MyError as designed, anything else with
// its own text under the same caption.
void show_exception(QWidget* parent, const std::exception_ptr& error);

// Calls a slot with the signal's arguments, or with none when it takes none.
template <typename F, typename... A>
void call_slot(F& fn, A&&... args) {
    if constexpr (std::is_invocable_v<F&, A...>)
        fn(std::forward<A>(args)...);
    else
        fn();
}

// A callable for connect(): runs fn (with the signal's arguments when it
// takes them); a MyError (or any other exception) it
// throws is shown over `parent` (which may be gone by then).
template <typename F>
auto guard(QWidget* parent, F fn) {
    // The choice is made in call_slot(): clang mishandles it inside this
    // generic lambda.
    return [p = QPointer<QWidget>(parent), fn = std::move(fn)](auto&&... args) mutable {
        try {
            call_slot(fn, std::forward<decltype(args)>(args)...);
        } catch (...) {
            show_exception(p.data(), std::current_exception());
        }
    };
}

class GuardedApplication : public QApplication {
    Q_OBJECT
  public:
    // Sets the application's name, version and window icon (the suite's).
    GuardedApplication(int& argc, char** argv, const QString& program);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace vardel::gui
