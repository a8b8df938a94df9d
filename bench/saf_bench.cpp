// SAF archive throughput on a mixed tree (256 MiB by default): writing it
// with the entry operations the backup run uses, and extracting every entry
// as the restore tool does, beside `tar cf - | compress -b12` and
// `uncompress | tar xf -` of the same tree in the same run. Both sides
// flush their archive to disk at the end of writing.
//   saf_bench [MiB]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "containers/saf_reader.h"
#include "containers/saf_writer.h"

using namespace vardel;
using namespace vardel::bench;
namespace fs = std::filesystem;

namespace {

// Files and folders of the tree, relative to the source folder.
std::vector<std::string> make_tree(const std::string& src, size_t total) {
    std::vector<std::string> files;
    auto add = [&](const std::string& rel, const std::string& data) {
        write_file(src + "/" + rel, data);
        files.push_back(rel);
    };
    const size_t quarter = total / 4, eighth = total / 8;
    for (int i = 0; i < 16; ++i)
        add("text/part" + std::to_string(i) + ".txt", text_like(quarter / 16, 100 + i));
    for (int i = 0; i < 8; ++i)
        add("random/blob" + std::to_string(i) + ".bin", random_bytes(eighth / 8, 200 + i));
    for (int i = 0; i < 4; ++i)
        add("zip/archive" + std::to_string(i) + ".zip", random_bytes(eighth / 4, 300 + i));
    // Many small files: the per-entry cost.
    const size_t small = 16384, count = quarter / small;
    for (size_t i = 0; i < count; ++i)
        add("small/d" + std::to_string(i / 64) + "/f" + std::to_string(i) + ".c",
            text_like(small, static_cast<uint32_t>(400 + i)));
    // Repetitive binary data, like tables and images with flat areas.
    std::string pattern;
    while (pattern.size() < quarter / 4) pattern += std::string(1000, 'x') + random_bytes(24, 7);
    pattern.resize(quarter / 4);
    for (int i = 0; i < 4; ++i) add("pattern/p" + std::to_string(i) + ".dat", pattern);
    return files;
}

bool save(SafWriter& w, const std::string& path) {
    platform::File src;
    return src.open(path, platform::OpenMode::Read) && w.open_file_entry(path) &&
           w.write_entry_data(src) && w.close_entry();
}

}  // namespace

int main(int argc, char** argv) {
    size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    if (!have_command("compress") || !have_command("tar")) {
        std::fprintf(stderr, "saf_bench: tar and compress (ncompress) are needed\n");
        return 1;
    }
    std::string dir = scratch_dir("saf");
    std::string src = dir + "/src";
    std::vector<std::string> files = make_tree(src, mib << 20);
    uint64_t bytes = 0;
    for (auto& f : files) bytes += fs::file_size(src + "/" + f);
    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf("SAF, tree of %zu files, %.1f MB, MB/s of plain data (1 MB = 10^6 bytes)\n",
                files.size(), mb);

    const std::string arc = dir + "/B1_1.SAF", tarz = dir + "/tree.tar.Z";
    double w_ours = time_seconds([&] {
        SafWriter w;
        if (!w.create_archive(arc)) std::exit(1);
        for (auto& f : files) {
            if (!save(w, src + "/" + f)) {
                std::fprintf(stderr, "saf_bench: %s: %s\n", f.c_str(), w.error_text().c_str());
                std::exit(1);
            }
        }
        if (!w.close_archive()) std::exit(1);
    });
    double w_peer = time_command("tar cf - -C " + src + " . | compress -b12 -c > " + tarz +
                                 "; r=$?; sync " + tarz + "; [ $r -eq 0 ] || [ $r -eq 2 ]");

    const std::string out = dir + "/out", peer_out = dir + "/peer";
    double r_ours = time_seconds([&] {
        SafReader r;
        r.open(arc);
        for (uint32_t i = 0; i < r.entry_count(); ++i) {
            const SafEntry& e = r.entry(i);
            if (e.type != saf::kTypeFile) continue;
            // The restore tool computes the target and makes its folders.
            std::string target = out + e.name.substr(src.size());
            fs::create_directories(fs::path(target).parent_path());
            if (r.extract_entry(i, target) != SafExtractResult::Extracted) std::exit(1);
        }
    });
    fs::create_directories(peer_out);
    double r_peer = time_command("uncompress -c < " + tarz + " | tar xf - -C " + peer_out);

    for (auto& f : files) {
        if (fs::file_size(out + "/" + f) != fs::file_size(src + "/" + f)) {
            std::fprintf(stderr, "saf_bench: %s came back wrong\n", f.c_str());
            return 1;
        }
    }
    print_rate("write tree into archive", mb / w_ours, "tar|compress", mb / w_peer, "MB/s");
    print_rate("extract tree from archive", mb / r_ours, "uncompress|tar", mb / r_peer, "MB/s");
    std::printf("%-40s ours %10.1f %%       tar|compress  %10.1f %%\n", "archive size (of data)",
                100.0 * static_cast<double>(fs::file_size(arc)) / static_cast<double>(bytes),
                100.0 * static_cast<double>(fs::file_size(tarz)) / static_cast<double>(bytes));
    return 0;
}
