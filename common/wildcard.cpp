#include "common/wildcard.h"

#include "common/text_helpers.h"

namespace vardel {

namespace {

// Matches one pattern token at p against name character c; sets `len` to the
// token's length in the pattern.
bool token_matches(std::string_view pat, size_t p, char c, size_t& len) {
    char t = pat[p];
    if (t == '?') {
        len = 1;
        return true;
    }
    if ((t == '\\' || t == '^') && p + 1 < pat.size()) {
        len = 2;
        return t == '\\' ? ascii_lower(pat[p + 1]) == ascii_lower(c) : pat[p + 1] != c;
    }
    len = 1;
    return ascii_lower(t) == ascii_lower(c);
}

}  // namespace

bool wildcard_match(std::string_view pat, std::string_view name) {
    // Every token but '*' consumes exactly one name character, so remembering
    // the last '*' is enough to backtrack.
    size_t p = 0, n = 0;
    size_t star_p = std::string_view::npos, star_n = 0;
    while (n < name.size()) {
        size_t len = 0;
        if (p < pat.size() && pat[p] == '*') {
            star_p = ++p;
            star_n = n;
        } else if (p < pat.size() && token_matches(pat, p, name[n], len)) {
            p += len;
            ++n;
        } else if (star_p != std::string_view::npos) {
            p = star_p;
            n = ++star_n;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

}  // namespace vardel
