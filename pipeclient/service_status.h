#pragma once
// The service's status text (the answer to PIPE_SINGLE_STATUS) taken apart:
// ten lines ending in "\r\n" (the last may lack it). Clients show lines 7 to
// 10; the others are kept as they came. Plain value; any thread.
#include <array>
#include <string>
#include <string_view>

namespace vardel {

struct ServiceStatus {
    // Lines 1 to 10 as lines[0] .. lines[9]; missing lines are empty.
    std::array<std::string, 10> lines;

    bool enabled() const;                                        // line 7 not 0
    bool running() const;                                        // line 8 not 0
    const std::string& running_set() const { return lines[8]; }  // "<none>" when idle
    // "Next backup: '%s' at %s", "No backups scheduled", or empty while a
    // backup runs.
    const std::string& next_run() const { return lines[9]; }

    // Lines end at "\r\n" or "\n"; lines past the tenth are ignored.
    static ServiceStatus parse(std::string_view text);
};

}  // namespace vardel
