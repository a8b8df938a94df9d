#pragma once
// Where a program's window was: saved as the text "left,top,width,height"
// in the value "Placement" of the program's subkey of the product key
// ("vardelcfg", "vardelrestore", ...), restored at the next start. Plain
// rectangles: the Qt glue lives with the windows. Both calls swallow every
// error of their own (a placement is a convenience, never a failure).
// Any thread.
#include <optional>
#include <string_view>

#include "common/registry.h"

namespace vardel {

struct WindowRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const WindowRect&) const = default;
};

class WindowPlacement {
  public:
    // Writes "Placement", creating the program's key when needed. Without
    // a store: this process's.
    static void save(const registry::Store& store, std::string_view program,
                     const WindowRect& rect);
    static void save(std::string_view program, const WindowRect& rect);
    // The rectangle saved for `program`; none when the key or the value is
    // missing, empty, or does not start with four comma-separated decimal
    // numbers (the window then stays where it is).
    static std::optional<WindowRect> restore(const registry::Store& store,
                                             std::string_view program);
    static std::optional<WindowRect> restore(std::string_view program);
    // The parsing rule of restore(), for the text alone.
    static std::optional<WindowRect> parse(std::string_view text);
};

}  // namespace vardel
