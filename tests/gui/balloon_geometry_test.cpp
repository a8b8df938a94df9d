#include "gui/balloon_geometry.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace vardel::gui {
namespace {

// Greedy word wrap with every character 7 pixels wide and lines 16 high:
// enough of a font to check the geometry against.
TextMeasure fixed_width_text(const std::string& text) {
    return [text](int width, bool break_words) {
        std::vector<std::string> words;
        std::istringstream in(text);
        for (std::string w; in >> w;) words.push_back(w);
        const int per_line = std::max(width / 7, 1);
        int lines = 0, widest = 0, used = 0;
        for (std::string w : words) {
            while (break_words && static_cast<int>(w.size()) > per_line) {
                if (used) ++lines, used = 0;
                ++lines;
                widest = std::max(widest, per_line * 7);
                w.erase(0, per_line);
            }
            int need = used ? used + 1 + static_cast<int>(w.size()) : static_cast<int>(w.size());
            if (used && need > per_line) {
                ++lines;
                need = static_cast<int>(w.size());
            }
            used = need;
            widest = std::max(widest, used * 7);
        }
        if (used) ++lines;
        return BalloonSize{widest, lines * 16};
    };
}

BalloonContent content(const std::string& title, const std::string& text) {
    return {BalloonSize{static_cast<int>(title.size()) * 8, 16}, fixed_width_text(text), true};
}

const BalloonRect kScreen{0, 0, 1280, 720};

struct Placed {
    BalloonLayout layout;
    BalloonPoint anchor;
};

Placed place_at(BalloonPoint anchor, const BalloonRect& screen = kScreen,
                const std::string& text = "Backup 'Nightly' completed") {
    BalloonContent c = content("Vardel Service", text);
    return {place_balloon(measure_balloon(c, screen.width()), anchor, screen, c), anchor};
}

// The tail's tip lands on the anchor, and the whole balloon is on the screen.
void expect_points_at_anchor(const Placed& p, const BalloonRect& screen = kScreen) {
    const BalloonLayout& l = p.layout;
    EXPECT_TRUE(screen.contains(l.window))
        << l.window.left << "," << l.window.top << " " << l.window.right << "," << l.window.bottom;
    EXPECT_EQ(l.window.left + l.tail[0].x, p.anchor.x);
    EXPECT_EQ(l.window.top + l.tail[0].y, p.anchor.y);
    // The tail joins the body: its foot lies inside it.
    EXPECT_GT(l.tail[1].y, l.body.top);
    EXPECT_LT(l.tail[1].y, l.body.bottom);
    EXPECT_GE(l.tail[2].x, 0);
}

TEST(BalloonGeometry, SizeFollowsTitleAndTextWithTheMinimums) {
    // Short title and text: the 100-pixel content width; band 42 + 10.
    BalloonSize s = measure_balloon(content("Hi", "ok"), 1280);
    EXPECT_EQ(s, (BalloonSize{100, 52 + 16 + 10}));
    // A long title widens the content by 42 beside it.
    s = measure_balloon(content(std::string(30, 'T'), "ok"), 1280);
    EXPECT_EQ(s.width, 30 * 8 + 42);
    // Text wraps in the content width (14 characters here).
    s = measure_balloon(content("Hi", "aaaa bbbb cccc dddd eeee ffff g"), 1280);
    EXPECT_EQ(s.width, 100);
    EXPECT_EQ(s.height, 52 + 3 * 16 + 10);
}

TEST(BalloonGeometry, AnUnbreakableWordIsBrokenAtAThirdOfTheScreen) {
    std::string path = "/media/" + std::string(200, 'x');
    BalloonSize s = measure_balloon(content("Vardel Service Error", "Can't open " + path), 1200);
    EXPECT_LE(s.width, 400);
    EXPECT_GE(s.height, 52 + 4 * 16);
}

TEST(BalloonGeometry, TheAnchorIsAThirdIntoTheIconAndOnTheScreen) {
    EXPECT_EQ(balloon_anchor({1200, 690, 1230, 720}, kScreen), (BalloonPoint{1210, 697}));
    // The default corner rectangle when the icon is nowhere to be found.
    EXPECT_EQ(default_icon_rect(kScreen), (BalloonRect{1216, 719, 1280, 720}));
    EXPECT_EQ(balloon_anchor(default_icon_rect(kScreen), kScreen), (BalloonPoint{1237, 719}));
    // An icon reported partly off the screen.
    EXPECT_EQ(balloon_anchor({1270, 715, 1300, 745}, kScreen), (BalloonPoint{1279, 719}));
}

TEST(BalloonGeometry, AboveTheAnchorWhereThereIsRoomElseBelow) {
    // Bottom right, as a bottom panel has it: above, shifted right by a
    // fifth of the width (154 + 36) / 5 = 38.
    Placed p = place_at({1237, 719});
    EXPECT_FALSE(p.layout.below);
    expect_points_at_anchor(p);
    EXPECT_EQ(p.layout.window, (BalloonRect{1237 - 154 - 38 + 38, 719 - 94 - 32, 1275, 719}));
    EXPECT_EQ(p.layout.body, (BalloonRect{2, 2, 154 + 34, 94 - 2}));
    // At the very edge the shift stops at the screen's side.
    p = place_at({1279, 719});
    expect_points_at_anchor(p);
    EXPECT_EQ(p.layout.window.right, 1280);

    // Top right, as a top panel has it: below, the tail pointing up.
    p = place_at({1237, 10});
    EXPECT_TRUE(p.layout.below);
    expect_points_at_anchor(p);
    EXPECT_EQ(p.layout.body.top, 32);

    // Away from the right edge the full shift: the tip sits under the body.
    p = place_at({800, 400});
    expect_points_at_anchor(p);
    EXPECT_EQ(p.layout.window.right, 800 + 38);
    EXPECT_LT(p.layout.tail[0].x, p.layout.body.right);
}

TEST(BalloonGeometry, NearTheLeftEdgeTheBalloonStaysOnTheScreen) {
    for (BalloonPoint a : {BalloonPoint{10, 700}, BalloonPoint{10, 5}, BalloonPoint{0, 0}}) {
        Placed p = place_at(a);
        EXPECT_EQ(p.layout.window.left, 0) << a.x << "," << a.y;
        EXPECT_TRUE(kScreen.contains(p.layout.window));
        EXPECT_GE(p.layout.tail[2].x, 0);
    }
}

TEST(BalloonGeometry, ASecondScreenKeepsItsOwnOrigin) {
    const BalloonRect right_screen{1280, 0, 2560, 1024};
    Placed p = place_at({2540, 1023}, right_screen);
    expect_points_at_anchor(p, right_screen);
    // An anchor outside the screen is pulled in first.
    p = place_at({100, 2000}, right_screen);
    EXPECT_TRUE(right_screen.contains(p.layout.window));
}

TEST(BalloonGeometry, IconTitleAndTextFitInsideTheBorder) {
    for (int title_height : {16, 40, 60}) {
        BalloonContent c =
            content("Vardel Service Alert", "Can't suspend. Backup 'Nightly' in progress");
        c.title.height = title_height;
        BalloonSize s = measure_balloon(c, 1280);
        BalloonLayout l = place_balloon(s, {1000, 700}, kScreen, c);
        const BalloonRect inner = l.inner_body;
        EXPECT_EQ(inner, (BalloonRect{l.body.left + 1, l.body.top + 1, l.body.right - 1,
                                      l.body.bottom - 1}));
        EXPECT_TRUE(inner.contains(l.icon));
        EXPECT_TRUE(inner.contains(l.title));
        EXPECT_TRUE(inner.contains(l.text));
        EXPECT_GE(l.title.left, l.icon.right);
        EXPECT_GE(l.text.top, l.icon.bottom);
        EXPECT_GE(l.text.top, l.title.bottom);
        EXPECT_GE(l.text.height(), c.text(l.text.width(), true).height) << title_height;
        // The inner tail lies within the outer one, one pixel in.
        EXPECT_EQ(l.inner_tail[0].x, l.tail[0].x - 1);
        EXPECT_EQ(l.inner_tail[2].x, l.tail[2].x + 1);
    }
}

}  // namespace
}  // namespace vardel::gui
