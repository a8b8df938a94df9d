#include "pipeclient/service_status.h"

#include <cstdlib>

namespace vardel {

namespace {

bool nonzero(const std::string& line) {
    return std::strtol(line.c_str(), nullptr, 10) != 0;
}

}  // namespace

bool ServiceStatus::enabled() const {
    return nonzero(lines[6]);
}

bool ServiceStatus::running() const {
    return nonzero(lines[7]);
}

ServiceStatus ServiceStatus::parse(std::string_view text) {
    ServiceStatus s;
    size_t n = 0;
    while (!text.empty() && n < s.lines.size()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        s.lines[n++] = line;
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return s;
}

}  // namespace vardel
