#include "bench/bench_util.h"

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

namespace vardel::bench {

double time_seconds(const std::function<void()>& fn) {
    auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double time_command(const std::string& command) {
    int rc = 0;
    double s = time_seconds([&] { rc = std::system(command.c_str()); });
    if (rc != 0) {
        std::fprintf(stderr, "peer command failed (%d): %s\n", rc, command.c_str());
        std::exit(1);
    }
    return s;
}

bool have_command(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

void print_rate(const std::string& what, double ours, const std::string& peer_name, double peer,
                const std::string& unit) {
    std::printf("%-40s ours %10.1f %s   %-16s %10.1f %s   ratio %.2f\n", what.c_str(), ours,
                unit.c_str(), peer_name.c_str(), peer, unit.c_str(), peer > 0 ? ours / peer : 0.0);
    std::fflush(stdout);
}

void print_time(const std::string& what, double ours, const std::string& peer_name, double peer) {
    std::printf("%-40s ours %10.3f s    %-16s %10.3f s    ratio %.2f (lower is better)\n",
                what.c_str(), ours, peer_name.c_str(), peer, peer > 0 ? ours / peer : 0.0);
    std::fflush(stdout);
}

namespace {
std::vector<std::string>& to_remove() {
    static std::vector<std::string> v;
    return v;
}
void cleanup() {
    for (auto& d : to_remove()) {
        std::error_code ec;
        std::filesystem::remove_all(d, ec);
    }
}
}  // namespace

std::string scratch_dir(const std::string& tag) {
    std::string tmpl = "/tmp/vardel-bench-" + tag + "-XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    // Kept for profiling a run by hand afterwards.
    if (std::getenv("VARDEL_BENCH_KEEP")) {
        std::fprintf(stderr, "scratch folder kept: %s\n", tmpl.c_str());
        return tmpl;
    }
    if (to_remove().empty()) std::atexit(cleanup);
    to_remove().push_back(tmpl);
    return tmpl;
}

std::string text_like(size_t bytes, uint32_t seed) {
    static const char* const words[] = {
        "backup", "the",  "file", "of",   "and",     "folder",  "to",       "a",
        "set",    "is",   "in",   "data", "restore", "archive", "cycle",    "with",
        "for",    "that", "log",  "on",   "by",      "system",  "schedule", "service",
        "user",   "copy", "time", "it",   "was",     "not",     "each",     "when"};
    std::mt19937 rng(seed);
    std::string out;
    out.reserve(bytes + 16);
    size_t col = 0;
    while (out.size() < bytes) {
        const char* w = words[rng() % (sizeof words / sizeof *words)];
        out += w;
        col += std::char_traits<char>::length(w) + 1;
        if (col > 72) {
            out += "\n";
            col = 0;
        } else {
            out += ' ';
        }
        if (rng() % 50 == 0) out += std::to_string(rng() % 100000);
    }
    out.resize(bytes);
    return out;
}

std::string words_text(size_t bytes, uint32_t seed) {
    static const std::vector<std::string> vocabulary = [] {
        std::mt19937 rng(12345);
        std::vector<std::string> v;
        for (int i = 0; i < 5000; ++i) {
            std::string w;
            size_t len = 2 + rng() % 6 + rng() % 6;
            for (size_t k = 0; k < len; ++k) w += static_cast<char>('a' + rng() % 26);
            v.push_back(w);
        }
        return v;
    }();
    std::mt19937 rng(seed);
    std::string out;
    out.reserve(bytes + 32);
    size_t col = 0;
    while (out.size() < bytes) {
        const std::string& w = vocabulary[rng() % vocabulary.size()];
        out += w;
        col += w.size() + 1;
        if (col > 72) {
            out += '\n';
            col = 0;
        } else {
            out += ' ';
        }
    }
    out.resize(bytes);
    return out;
}

std::string random_bytes(size_t bytes, uint32_t seed) {
    std::mt19937_64 rng(seed);
    std::string out(bytes, '\0');
    for (size_t i = 0; i + 8 <= bytes; i += 8) {
        uint64_t v = rng();
        std::memcpy(&out[i], &v, 8);
    }
    return out;
}

void write_file(const std::string& path, const std::string& data) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

}  // namespace vardel::bench
