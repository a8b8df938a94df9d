#include "vardelcfg/settings_file_syntax.h"

#include <limits>

namespace vardel {

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trim_left(std::string_view s) {
    while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view trim_right(std::string_view s) {
    while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

std::optional<SettingsLine> parse_settings_line(std::string_view line) {
    line = trim_right(trim_left(line));
    if (line.empty() || line.front() == ';') return std::nullopt;
    SettingsLine out;
    if (line.front() == '[') {
        out.section = true;
        out.key = std::string(line);
        if (line.size() >= 2) out.name = std::string(line.substr(1, line.size() - 2));
        return out;
    }
    size_t eq = line.find('=');
    out.key = std::string(trim_right(line.substr(0, eq)));
    if (eq == std::string_view::npos) return out;
    std::string_view value = trim_left(line.substr(eq + 1));
    if (!value.empty() && value.front() == '"') {
        value.remove_prefix(1);
        if (!value.empty() && value.back() == '"') value.remove_suffix(1);
    }
    out.value = unescape_settings_value(value);
    return out;
}

void for_each_settings_line(std::string_view text,
                            const std::function<void(const SettingsLine&)>& f) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (std::optional<SettingsLine> l = parse_settings_line(line)) f(*l);
        start = end + 1;
    }
}

std::string escape_settings_value(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescape_settings_value(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            if (text[i + 1] == '\\') {
                out += '\\';
                ++i;
                continue;
            }
            if (text[i + 1] == 'n') {
                out += "\r\n";
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string quoted_settings_value(std::string_view text) {
    return "\"" + escape_settings_value(text) + "\"";
}

std::string plain_settings_value(std::string_view text) {
    bool as_is = text.find_first_of("\\\r\n") == std::string_view::npos &&
                 (text.empty() ||
                  (!is_space(text.front()) && !is_space(text.back()) && text.front() != '"'));
    return as_is ? std::string(text) : quoted_settings_value(text);
}

int32_t settings_number(std::string_view value) {
    size_t i = 0;
    while (i < value.size() && is_space(value[i])) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
    int64_t n = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        n = n * 10 + (value[i] - '0');
        if (n > kLimit) n = kLimit;
    }
    if (negative) return static_cast<int32_t>(-n);
    return static_cast<int32_t>(n >= kLimit ? kLimit - 1 : n);
}

}  // namespace vardel
