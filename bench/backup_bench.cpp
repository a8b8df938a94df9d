// Whole backup runs: a generated tree (1 GiB in 10 000 files by default)
// backed up in full into each format by a real Backup, beside the peer that
// does the same job: `tar cf - | compress` for the SAF archive, `zip -r -6`
// for the ZIP archive, `cp -a` for discrete copies; each side ends with its
// output on disk, as a backup does. Then an incremental run in which nothing
// changed, beside `find -newer` over the tree. All in one run, warm cache.
//
//   backup_bench [MiB [files [rounds [formats]]]]
// rounds: each side runs that often, alternating, and its best run counts
// (default 2); formats: a subset of "saf,zip,discrete".
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "bench/bench_util.h"
#include "common/backup_set.h"
#include "common/general_settings.h"
#include "common/log.h"
#include "common/setting_names.h"
#include "vardeld/backup.h"
#include "vardeld/run_flags.h"
#include "vardeld/service_messages.h"

namespace fs = std::filesystem;
using namespace vardel;

namespace {

// Text 50%, incompressible 30%, records of both 20%; sizes spread from a
// few hundred bytes to 8 times the mean, in 100 folders of 3 levels.
uint64_t make_tree(const std::string& root, size_t total_bytes, size_t files) {
    std::mt19937 rng(7);
    const size_t mean = total_bytes / files;
    uint64_t total = 0;
    for (size_t i = 0; i < files; ++i) {
        size_t left = total_bytes > total ? total_bytes - static_cast<size_t>(total) : 0;
        size_t size = i + 1 == files
                          ? left
                          : std::min<size_t>(left, rng() % 8 == 0 ? mean * 4 + rng() % (mean * 4)
                                                                  : 200 + rng() % (mean * 4 / 7));
        std::string data;
        switch (i % 10) {
            case 0:
            case 1:
            case 2:
            case 3:
            case 4:
                data = bench::text_like(size, static_cast<uint32_t>(i));
                break;
            case 5:
            case 6:
            case 7:
                data = bench::random_bytes(size, static_cast<uint32_t>(i));
                break;
            default:
                data = bench::text_like(size / 2, static_cast<uint32_t>(i)) +
                       bench::random_bytes(size - size / 2, static_cast<uint32_t>(i));
        }
        char rel[128];
        std::snprintf(rel, sizeof rel, "/top%zu/mid %zu/leaf%zu/file %zu.dat", i % 4, i % 25,
                      i % 100, i);
        bench::write_file(root + rel, data);
        total += data.size();
    }
    return total;
}

struct Outcome {
    double seconds;
    int result;
};

Outcome run_backup(const std::string& tree, const std::string& dest, int format, int type) {
    BackupSet set;
    set.Name = "Bench";
    set.BackupDestination = dest;
    set.BackupDirs = tree;
    set.SaveFormat = format;
    set.BackupType = type;
    set.BackupsPerCycle = 2;
    GeneralSettings general;
    RunFlags flags;
    Outcome o{};
    o.seconds = bench::time_seconds([&] {
        Backup b(set, general, flags);
        o.result = b.run();
    });
    return o;
}

double du_mib(const std::string& path) {
    uint64_t n = 0;
    if (fs::is_directory(path)) {
        for (auto& e : fs::recursive_directory_iterator(path))
            if (e.is_regular_file()) n += e.file_size();
    } else {
        n = fs::file_size(path);
    }
    return static_cast<double>(n) / 1048576.0;
}

}  // namespace

int main(int argc, char** argv) {
    size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    size_t files = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 10000;
    int rounds = argc > 3 ? std::atoi(argv[3]) : 2;
    std::string only = argc > 4 ? argv[4] : "saf,zip,discrete";
    if (rounds < 1) rounds = 1;
    for (const char* tool : {"tar", "compress", "zip", "cp", "find", "sync"}) {
        if (!bench::have_command(tool)) {
            std::fprintf(stderr, "backup_bench: %s is needed\n", tool);
            return 1;
        }
    }
    std::string dir = bench::scratch_dir("backup");
    setenv("VARDEL_ROOT", (dir + "/root").c_str(), 1);
    fs::create_directories(dir + "/root");
    // The service logs at INFO and up by default; what a run traces below
    // that is not kept.
    Logger::instance().set_min_level(LOG_INFO);

    const std::string tree = dir + "/tree";
    uint64_t bytes = make_tree(tree, mib << 20, files);
    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf("backup runs, tree of %zu files, %.1f MB (1 MB = 10^6 bytes)\n", files, mb);
    bench::time_command("sync");
    // Nothing in the tree may be as new as the full backups' start times,
    // or the incremental run would take it.
    bench::time_command("sleep 1.1; find '" + tree + "' -type f -exec cat {} + > /dev/null");

    struct Format {
        int number;
        const char* name;
        const char* peer_name;
        std::string peer_out;
        std::string peer;  // writes peer_out
        std::string out;   // our output, for its size
    };
    const std::string tarz = dir + "/peer.tar.Z", zip = dir + "/peer.zip", cp = dir + "/peer";
    Format formats[] = {
        {SAVE_SAF, "SAF archive", "tar|compress", tarz,
         "tar cf - -C '" + tree + "' . | compress -b12 -c > '" + tarz + "'; r=$?; sync '" + tarz +
             "'; [ $r -eq 0 ] || [ $r -eq 2 ]",
         dir + "/saf/B1_1.SAF"},
        {SAVE_ZIP, "ZIP archive", "zip -r -6", zip,
         "cd '" + tree + "' && zip -q -r -6 '" + zip + "' . && sync '" + zip + "'",
         dir + "/zip/B1_1.ZIP"},
        {SAVE_DISCRETE, "discrete copies", "cp -a", cp,
         "cp -a '" + tree + "' '" + cp + "' && sync -f '" + cp + "'", dir + "/copies/B1_1"},
    };
    const char* const dests[] = {"/saf", "/zip", "/copies"};
    const char* const keys[] = {"saf", "zip", "discrete"};
    bool wanted[3];
    for (int i = 0; i < 3; ++i) wanted[i] = only.find(keys[i]) != std::string::npos;
    for (int i = 0; i < 3; ++i) {
        if (!wanted[i]) continue;
        const Format& f = formats[i];
        double ours = 1e30, peer = 1e30;
        for (int r = 0; r < rounds; ++r) {
            // Each side starts from a fresh output, its deletion flushed, and
            // the two take turns at going first.
            auto ours_run = [&] {
                fs::remove_all(dir + dests[i]);
                bench::time_command("sync");
                Outcome o = run_backup(tree, dir + dests[i], f.number, BACKUP_INCREMENTAL);
                if (o.result != kResultCompleted) {
                    std::fprintf(stderr, "backup_bench: the %s run ended with %d\n", f.name,
                                 o.result);
                    std::exit(1);
                }
                ours = std::min(ours, o.seconds);
            };
            auto peer_run = [&] {
                fs::remove_all(f.peer_out);
                bench::time_command("sync");
                peer = std::min(peer, bench::time_command(f.peer));
            };
            if (r % 2 == 0) {
                ours_run();
                peer_run();
            } else {
                peer_run();
                ours_run();
            }
        }
        std::string what = std::string("full backup, ") + f.name;
        bench::print_rate(what + ", MB/s", mb / ours, f.peer_name, mb / peer, "MB/s");
        bench::print_rate(what + ", files/s", files / ours, f.peer_name, files / peer, "files/s");
        std::printf("%-40s ours %10.1f MiB   %-16s %10.1f MiB\n",
                    (std::string("  output of ") + f.name).c_str(), du_mib(f.out), f.peer_name,
                    du_mib(f.peer_out));
        fs::remove_all(f.peer_out);
        std::fflush(stdout);
    }

    // Nothing changed since the full backups: the second run of the cycle
    // walks the tree, selects nothing and leaves no output.
    bench::time_command("touch -d '@1' '" + dir + "/stamp'");
    for (int i = 0; i < 3; ++i) {
        if (!wanted[i]) continue;
        const Format& f = formats[i];
        Outcome ours = run_backup(tree, dir + dests[i], f.number, BACKUP_INCREMENTAL);
        bench::time_command("touch -r '" + f.out + "' '" + dir + "/stamp'");
        double peer =
            bench::time_command("find '" + tree + "' -newer '" + dir + "/stamp' > /dev/null");
        if (fs::exists(dir + dests[i] + "/B1_2.SAF") || fs::exists(dir + dests[i] + "/B1_2.ZIP") ||
            fs::exists(dir + dests[i] + "/B1_2")) {
            std::fprintf(stderr, "backup_bench: the incremental %s run saved something\n", f.name);
            return 1;
        }
        bench::print_time(std::string("no-change incremental, ") + f.name, ours.seconds,
                          "find -newer", peer);
    }
    return 0;
}
