#include "vardeld/progress_display.h"

#include <unistd.h>

#include <string>

namespace vardel {

void ProgressDisplay::write_line(int level, std::string_view text) {
    if (level < min_level_) return;
    // A terminal wants bare line feeds.
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out.push_back(text[i]);
    ssize_t n = ::write(fd_, out.data(), out.size());
    (void)n;
}

}  // namespace vardel
