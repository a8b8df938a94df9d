#pragma once
// File contents for tests: incompressible bytes and compressible text, both
// the same for the same seed.
#include <cstdint>
#include <random>
#include <string>

namespace vardel::test {

inline std::string random_text(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

inline std::string prose(size_t n, uint32_t seed = 7) {
    static const char* words[] = {"saved ", "files ", "of ", "the ", "day\n", "archive ", "copy "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) s += words[rng() % 7];
    s.resize(n);
    return s;
}

}  // namespace vardel::test
