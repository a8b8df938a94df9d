#pragma once
// Where a notice balloon goes and how it is drawn, as plain numbers: its
// size from the measured title and text, the anchor taken from the tray
// icon's rectangle, the window placed above the anchor (or below when
// there is no room above) with its tail pointing at the anchor, and the
// rectangles of the body, the icon, the title and the text. No Qt here, so
// tests check every corner of the screen without a window. Pure functions;
// any thread.
#include <array>
#include <functional>

namespace vardel::gui {

struct BalloonPoint {
    int x = 0;
    int y = 0;
    bool operator==(const BalloonPoint&) const = default;
};

struct BalloonSize {
    int width = 0;
    int height = 0;
    bool operator==(const BalloonSize&) const = default;
};

// Edges as the screen counts them: right and bottom lie just outside.
struct BalloonRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool contains(const BalloonRect& r) const {
        return r.left >= left && r.top >= top && r.right <= right && r.bottom <= bottom;
    }
    bool operator==(const BalloonRect&) const = default;
};

// The text's size when wrapped to `width` at word breaks; with
// `break_words` a word longer than a line is broken too, so the text never
// runs wider than `width`.
using TextMeasure = std::function<BalloonSize(int width, bool break_words)>;

struct BalloonContent {
    BalloonSize title;  // on one line
    TextMeasure text;
    bool icon = true;
};

struct BalloonLayout {
    BalloonRect window;  // on the screen
    bool below = false;  // the tail points up at an anchor above the body
    int text_width = 0;  // the width the text is wrapped in

    // The rest in window coordinates.
    BalloonRect body;  // the rounded rectangle
    std::array<BalloonPoint, 3> tail{};
    BalloonRect inner_body;  // one pixel in: what is left of the border
    std::array<BalloonPoint, 3> inner_tail{};
    BalloonRect icon;  // empty without an icon
    BalloonRect title;
    BalloonRect text;
};

inline constexpr int kBalloonCorner = 15;    // the body's corners are 15 x 15
inline constexpr int kBalloonIconSize = 32;  // drawn in a box of 33

// The body's size (without the tail's margins) for the content on a screen
// `screen_width` wide: the title on one line beside the icon, the text
// wrapped below it, never wider than a third of the screen unless the
// title is.
BalloonSize measure_balloon(const BalloonContent& content, int screen_width);

// The point the tail aims at: a third into the icon's rectangle and a
// quarter down, inside the screen. `icon` is the tray icon's rectangle, or
// the default corner rectangle when the desktop does not tell where it is.
BalloonPoint balloon_anchor(const BalloonRect& icon, const BalloonRect& screen);
// The bottom-right corner rectangle used when the icon cannot be located.
BalloonRect default_icon_rect(const BalloonRect& screen);

// The balloon of `size` (as measured) at `anchor`, on `screen`.
BalloonLayout place_balloon(BalloonSize size, BalloonPoint anchor, const BalloonRect& screen,
                            const BalloonContent& content);

}  // namespace vardel::gui
