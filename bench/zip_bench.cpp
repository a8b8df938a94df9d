// ZIP output: a 256 MiB tree of mixed files (text, incompressible data,
// half-compressible records, many small files, already packed archives)
// written into one archive by our writer, beside Info-ZIP's `zip -r -6` of
// the same tree in the same run. Each side runs twice, alternating; the
// better run counts.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "containers/zip_writer.h"

namespace fs = std::filesystem;
using namespace vardel;

namespace {

constexpr size_t kTreeBytes = 256u << 20;

// Records with repeating fields and random values: compresses to about half.
std::string records(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s;
    s.reserve(n + 64);
    while (s.size() < n) {
        char line[96];
        auto u = [&](unsigned mod) { return static_cast<unsigned>(rng() % mod); };
        int len =
            std::snprintf(line, sizeof line, "%08x,%u,%u,%c%c%c,", static_cast<unsigned>(rng()),
                          u(1000), u(100000), 'A' + u(26), 'a' + u(26), 'a' + u(26));
        s.append(line, static_cast<size_t>(len));
        for (int k = 0; k < 8; ++k) s.push_back(static_cast<char>(rng()));
        s.push_back('\n');
    }
    s.resize(n);
    return s;
}

size_t make_tree(const std::string& root) {
    std::mt19937 rng(42);
    size_t total = 0, n = 0;
    auto add = [&](const std::string& rel, const std::string& data) {
        bench::write_file(root + "/" + rel, data);
        total += data.size();
        ++n;
    };
    // Shares of the tree: text 40%, incompressible 25%, records 15%, small files 10%, packed 10%.
    size_t text = kTreeBytes * 40 / 100, rnd = kTreeBytes * 25 / 100, rec = kTreeBytes * 15 / 100,
           small = kTreeBytes * 10 / 100;
    for (size_t done = 0; done < text; ++n) {
        size_t sz = std::min<size_t>(text - done, 4096 + rng() % (4u << 20));
        add("docs/d" + std::to_string(n % 17) + "/file" + std::to_string(n) + ".txt",
            bench::text_like(sz, n));
        done += sz;
    }
    for (size_t done = 0; done < rnd; ++n) {
        size_t sz = std::min<size_t>(rnd - done, 65536 + rng() % (8u << 20));
        add("media/m" + std::to_string(n % 5) + "/img" + std::to_string(n) + ".jpg",
            bench::random_bytes(sz, n));
        done += sz;
    }
    for (size_t done = 0; done < rec; ++n) {
        size_t sz = std::min<size_t>(rec - done, 16384 + rng() % (2u << 20));
        add("data/r" + std::to_string(n % 7) + "/table" + std::to_string(n) + ".csv",
            records(sz, n));
        done += sz;
    }
    for (size_t done = 0; done < small; ++n) {
        size_t sz = 256 + rng() % 16384;
        add("src/s" + std::to_string(n % 41) + "/unit" + std::to_string(n) + ".c",
            bench::text_like(sz, n));
        done += sz;
    }
    for (int i = 0; total < kTreeBytes; ++i) {
        size_t sz = std::min<size_t>(kTreeBytes - total, 1u << 20 | rng() % (4u << 20));
        add("packed/p" + std::to_string(i) + (i % 2 ? ".gz" : ".zip"),
            bench::random_bytes(sz, 1000 + i));
    }
    std::printf("tree: %zu files, %.1f MiB\n", n, total / 1048576.0);
    return total;
}

double run_ours(const std::string& root, const std::string& out) {
    std::atomic<bool> abort{false};
    ZipReadHook hook(abort);
    return bench::time_seconds([&] {
        auto w = ZipWriter::create(out);
        if (!w) {
            std::fprintf(stderr, "cannot create %s\n", out.c_str());
            std::exit(1);
        }
        for (auto it = fs::recursive_directory_iterator(root);
             it != fs::recursive_directory_iterator(); ++it) {
            std::string p = it->path().string();
            ZipResult r = it->is_directory() ? w->add_folder(p) : w->add_file(p, p, hook);
            if (r != ZR_OK) {
                std::fprintf(stderr, "add %s failed: %x\n", p.c_str(), r);
                std::exit(1);
            }
        }
        if (w->close() != ZR_OK) std::exit(1);
    });
}

}  // namespace

int main() {
    if (!bench::have_command("zip") || !bench::have_command("unzip")) {
        std::puts("zip_bench: Info-ZIP zip/unzip not installed, skipped");
        return 0;
    }
    std::string dir = bench::scratch_dir("zip");
    std::string tree = dir + "/tree";
    size_t bytes = make_tree(tree);
    bench::time_command("cat $(find '" + tree +
                        "' -type f) > /dev/null");  // same warm cache for both

    std::string ours_zip = dir + "/ours.zip", peer_zip = dir + "/peer.zip";
    double ours = 1e9, peer = 1e9;
    for (int round = 0; round < 2; ++round) {
        fs::remove(ours_zip);
        fs::remove(peer_zip);
        ours = std::min(ours, run_ours(tree, ours_zip));
        peer = std::min(
            peer, bench::time_command("cd '" + tree + "' && zip -q -r -6 '" + peer_zip + "' ."));
    }
    bench::time_command("unzip -tq '" + ours_zip + "' > /dev/null");
    double mb = bytes / 1e6;
    bench::print_rate("256 MiB mixed tree into a ZIP", mb / ours, "zip -r -6", mb / peer, "MB/s");
    double ours_size = static_cast<double>(fs::file_size(ours_zip)),
           peer_size = static_cast<double>(fs::file_size(peer_zip));
    std::printf("%-40s ours %10.1f MiB   %-16s %10.1f MiB   ratio %.3f (lower is better)\n",
                "archive size", ours_size / 1048576, "zip -r -6", peer_size / 1048576,
                ours_size / peer_size);
    return 0;
}
