#include "platform/object_name.h"

#include <cstdint>
#include <cstdio>

namespace vardel::platform {

namespace {

constexpr size_t kMaxLength = 200;

bool keeps(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

uint64_t fnv1a(std::string_view s) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

std::string object_file_name(std::string_view name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name) {
        if (keeps(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    if (out.empty()) out.push_back('%');  // the empty name still needs a file of its own
    if (out.size() > kMaxLength) {
        char tail[24];
        std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(fnv1a(name)));
        out.resize(kMaxLength - 17);
        // Never cut an escape in half: "%4" would read as another name's prefix.
        while (!out.empty() &&
               (out.back() == '%' || (out.size() >= 2 && out[out.size() - 2] == '%')))
            out.pop_back();
        out += tail;
    }
    return out;
}

}  // namespace vardel::platform
