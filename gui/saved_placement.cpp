#include "gui/saved_placement.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

#include "common/window_placement.h"

namespace vardel::gui {

namespace {
// Smaller than this, a window is unusable: a torn or hand-edited value.
constexpr int kMinimumSide = 80;
// This much of the title bar must lie on a screen to be caught with the mouse.
constexpr int kVisibleEdge = 40;
}  // namespace

void restore_placement(QWidget& window, std::string_view program) {
    std::optional<WindowRect> r = WindowPlacement::restore(program);
    if (!r || r->width < kMinimumSide || r->height < kMinimumSide) return;
    QRect rect(r->left, r->top, r->width, r->height);
    bool on_screen = false;
    for (QScreen* s : QGuiApplication::screens()) {
        QRect visible = s->availableGeometry().intersected(rect);
        if (visible.width() >= kVisibleEdge && visible.height() >= kVisibleEdge) on_screen = true;
    }
    if (!on_screen) return;
    window.resize(rect.size());
    window.move(rect.topLeft());
}

void save_placement(const QWidget& window, std::string_view program) {
    QRect g = window.normalGeometry();
    if (!g.isValid()) g = window.geometry();
    QPoint top_left = window.isWindow() ? window.pos() : g.topLeft();
    WindowPlacement::save(program, WindowRect{top_left.x(), top_left.y(), g.width(), g.height()});
}

}  // namespace vardel::gui
