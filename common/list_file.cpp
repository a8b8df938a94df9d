#include "common/list_file.h"

#include <cstdio>
#include <memory>

#include "platform/file.h"

namespace vardel {

namespace {

bool needs_escape(std::string_view t) {
    if (t.find_first_of("\r\n") != std::string_view::npos) return true;
    if (!t.empty() && (t.back() == ' ' || t.back() == '\t')) return true;
    if (!t.empty() && (t.front() == ' ' || t.front() == '\t')) return true;
    return false;
}

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string format_list_line(char kind, std::string_view text) {
    std::string out;
    if (!needs_escape(text)) {
        out.reserve(text.size() + 4);
        out.push_back(kind);
        out.push_back(' ');
        out.append(text);
    } else {
        out.push_back(static_cast<char>(kind - 'A' + 'a'));
        out.push_back(' ');
        static const char* digits = "0123456789ABCDEF";
        for (char c : text) {
            auto u = static_cast<unsigned char>(c);
            if (c == '%' || c == '\r' || c == '\n' || c == '\t' || c == ' ') {
                out.push_back('%');
                out.push_back(digits[u >> 4]);
                out.push_back(digits[u & 15]);
            } else {
                out.push_back(c);
            }
        }
    }
    out += "\r\n";
    return out;
}

bool parse_list_line(std::string_view line, ListLine& out) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() < 2 || line[1] != ' ') return false;
    char k = line[0];
    std::string_view text = line.substr(2);
    if (k >= 'A' && k <= 'D') {
        // Trailing white space is cut, as every reader of the plain form does.
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
        out.kind = k;
        out.text.assign(text);
        return true;
    }
    if (k >= 'a' && k <= 'd') {
        std::string decoded;
        decoded.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
                hex(text[i + 2]) >= 0) {
                decoded.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
                i += 2;
            } else {
                decoded.push_back(text[i]);
            }
        }
        out.kind = static_cast<char>(k - 'a' + 'A');
        out.text = std::move(decoded);
        return true;
    }
    return false;
}

void parse_list_text(std::string_view text, const std::function<void(const ListLine&)>& fn) {
    ListLine parsed;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) lf = text.size();
        if (parse_list_line(text.substr(start, lf - start), parsed)) fn(parsed);
        start = lf + 1;
    }
}

bool read_list_file(const std::string& path, const std::function<void(const ListLine&)>& fn) {
    std::string text;
    if (platform::read_regular_file(path, text) != platform::ReadStatus::Read) return false;
    parse_list_text(text, fn);
    return true;
}

}  // namespace vardel
