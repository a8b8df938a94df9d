#pragma once
// A window's placement kept in the settings store under its program's name
// (common/window_placement.h): restored when the window opens, saved when
// it closes. GUI thread only; errors are swallowed (a placement is a
// convenience, never a failure).
#include <string_view>

class QWidget;

namespace vardel::gui {

// Moves and sizes the window as saved, when the saved rectangle is sane and
// lies (at least in part) on a screen now present; otherwise leaves it as it is.
void restore_placement(QWidget& window, std::string_view program);
// Saves the window's normal (not maximized) frame position and size.
void save_placement(const QWidget& window, std::string_view program);

}  // namespace vardel::gui
