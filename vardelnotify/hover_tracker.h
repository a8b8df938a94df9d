#pragma once
// Resting the mouse on the tray icon: once the cursor has stayed where it
// last moved over the icon for six ticks of 250 ms (about 1.5 s), the tray
// asks for the status balloon; when the cursor moves away the tracking
// stops and the balloon closes. Ticks while the menu is open count for
// nothing. One thread (the GUI's).
namespace vardel {

class HoverTracker {
  public:
    static constexpr int kTickMs = 250;

    struct Point {
        int x = 0;
        int y = 0;
        bool operator==(const Point&) const = default;
    };

    enum class Step {
        None,        // keep ticking
        ShowStatus,  // the cursor has rested long enough
        Stop,        // the cursor moved: stop the ticks, close the balloon
    };

    // The cursor moved over the icon to `at`. True when the ticks are to
    // start now (they were not running).
    bool moved(Point at);
    // One tick, with the cursor now at `cursor`.
    Step tick(Point cursor);

    void set_menu_open(bool open) { menu_open_ = open; }
    bool menu_open() const { return menu_open_; }
    // The menu opening stops the ticks as a move away does.
    void stop() { running_ = false; }
    bool running() const { return running_; }

  private:
    bool running_ = false;
    bool menu_open_ = false;
    Point last_;
    int ticks_ = 0;
};

}  // namespace vardel
