#pragma once
// A real X server for the tests that start a windowed program as a user
// would: Xvfb on a display number of its own (several test runs side by side
// never share one), windows found by their caption, and closed the way a
// window manager closes them (WM_DELETE_WINDOW), so the program's own close
// path runs.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vardel::test {

class XDisplay {
  public:
    // Starts Xvfb (1280 x 720, 24 bits); throws std::runtime_error when it
    // cannot.
    XDisplay();
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    // ":<n>", for DISPLAY.
    const std::string& name() const { return name_; }
    // "DISPLAY=:<n>" and a platform that draws on it, for a child's environment.
    std::vector<std::string> environment() const;

    // The first top-level window whose caption is `caption` (exactly) or, when
    // `prefix` is set, starts with it; 0 when none appears in time.
    unsigned long wait_for_window(const std::string& caption,
                                  std::chrono::milliseconds timeout = std::chrono::seconds(20),
                                  bool prefix = false) const;
    // True while a window with this id exists and is mapped.
    bool window_shown(unsigned long window) const;
    // Where a shown window lies on the screen; none when it is not shown.
    struct Box {
        int x = 0, y = 0, width = 0, height = 0;
    };
    std::optional<Box> window_box(unsigned long window) const;
    // Every mapped top-level caption, for a failure message.
    std::vector<std::string> captions() const;
    // Asks the window to close (WM_DELETE_WINDOW); false when it cannot be sent.
    bool close_window(unsigned long window) const;

    // A program's start as a user sees it: runs argv on this display (with
    // `env` besides), waits for its window `caption`, closes it, and waits
    // for the end. A failure message, or "" when the window appeared,
    // closed, and the program exited 0.
    std::string show_and_close(const std::vector<std::string>& argv, const std::string& caption,
                               const std::vector<std::string>& env = {}) const;

  private:
    pid_t server_ = -1;
    std::string name_;
};

}  // namespace vardel::test
