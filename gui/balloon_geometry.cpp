#include "gui/balloon_geometry.h"

#include <algorithm>

namespace vardel::gui {

namespace {

constexpr int kTitleMargin = 42;  // beside the title: the icon and the gaps
constexpr int kMinContentWidth = 100;
constexpr int kTitleBand = 42;   // the icon's height and its gap
constexpr int kMargin = 10;      // around the content, inside the body
constexpr int kTailWidth = 38;   // the window is this much wider than the body's content
constexpr int kTailHeight = 32;  // and this much higher: room for the tail
constexpr int kTailSide = 45;    // the tail's legs
constexpr int kMinWidth = 90;
constexpr int kMinHeight = 64;
constexpr int kIconBox = 33;
constexpr int kIconGap = 5;
constexpr int kTitleLine = 32;

BalloonRect inset(const BalloonRect& r, int by) {
    return {r.left + by, r.top + by, r.right - by, r.bottom - by};
}

}  // namespace

BalloonSize measure_balloon(const BalloonContent& content, int screen_width) {
    const int content_width = std::max(content.title.width + kTitleMargin, kMinContentWidth);
    const int band = std::max(kTitleBand, content.title.height) + kMargin;
    BalloonSize text = content.text ? content.text(content_width, false) : BalloonSize{};
    // A word longer than the line (a long path in a failure message) would
    // otherwise stretch the balloon across the screen.
    if (text.width > screen_width / 3 && content.text)
        text = content.text(std::max(content_width, screen_width / 3), true);
    BalloonSize size{std::max(content_width, text.width), band + text.height + kMargin};
    // A title font taller than the icon pushes the text down: keep room for it.
    const int title_line = std::max(kIconBox, content.title.height);
    size.height = std::max(size.height, title_line + text.height + 2 * kMargin + 8);
    return size;
}

BalloonRect default_icon_rect(const BalloonRect& screen) {
    return {screen.right - 64, screen.bottom - 1, screen.right, screen.bottom};
}

BalloonPoint balloon_anchor(const BalloonRect& icon, const BalloonRect& screen) {
    BalloonPoint p{icon.left + icon.width() / 3, icon.top + icon.height() / 4};
    p.x = std::clamp(p.x, screen.left, screen.right - 1);
    p.y = std::clamp(p.y, screen.top, screen.bottom - 1);
    return p;
}

BalloonLayout place_balloon(BalloonSize size, BalloonPoint anchor, const BalloonRect& screen,
                            const BalloonContent& content) {
    const int w = std::max(size.width, kMinWidth);
    const int h = std::max(size.height, kMinHeight);
    const int sw = screen.width();
    // Relative to the screen's corner from here on.
    const int ax = std::clamp(anchor.x - screen.left, 0, std::max(sw - 1, 0));
    const int ay = std::clamp(anchor.y - screen.top, 0, std::max(screen.height() - 1, 0));

    BalloonLayout out;
    BalloonRect r{ax - w - kTailWidth, ay - h - kTailHeight, ax, ay};
    if (r.top < 0) {
        out.below = true;
        r.top = ay;
        r.bottom = ay + h + kTailHeight;
    }
    // Moved right so the tail sits under the body's last fifth, as far as
    // the screen allows. Near the left edge the body is moved onto the
    // screen instead of further off it.
    int shift = (w + 36) / 5;
    if (r.left + shift < 0) shift = -r.left;
    if (r.right + shift > sw) shift = sw - r.right;
    r.left += shift;
    r.right += shift;
    out.window = {r.left + screen.left, r.top + screen.top, r.right + screen.left,
                  r.bottom + screen.top};

    const int wh = r.height();
    out.body =
        out.below ? BalloonRect{2, kTailHeight, w + 34, h + 28} : BalloonRect{2, 2, w + 34, h - 2};
    // The tail's foot stays inside the window even for an anchor at the
    // screen's very left edge.
    const int tx = std::max(ax - r.left, kTailSide + 2);
    const int tip_y = out.below ? 0 : wh;
    const int foot_y = out.below ? kTailSide : wh - kTailSide;
    const int toward = out.below ? 1 : -1;  // from the tip toward the body
    out.tail = {BalloonPoint{tx, tip_y}, BalloonPoint{tx, foot_y},
                BalloonPoint{tx - kTailSide, foot_y}};
    out.inner_body = inset(out.body, 1);
    out.inner_tail = {BalloonPoint{tx - 1, tip_y + 2 * toward},
                      BalloonPoint{tx - 1, foot_y + 2 * toward},
                      BalloonPoint{tx - kTailSide + 1, foot_y + 2 * toward}};

    const BalloonRect area = inset(out.body, kMargin);
    const int title_line = std::max(kTitleLine, content.title.height);
    int title_left = area.left;
    if (content.icon) {
        out.icon = {area.left, area.top, area.left + kBalloonIconSize, area.top + kBalloonIconSize};
        title_left += kIconBox + kIconGap;
    }
    out.title = {title_left, area.top, area.right, area.top + title_line};
    out.text = {area.left, area.top + std::max(kIconBox, title_line), area.right, area.bottom};
    return out;
}

}  // namespace vardel::gui
