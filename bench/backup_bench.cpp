// Whole backups as a user runs them (`vardeld --run NAME`, a child process
// with its own start and end), beside the peer that does the same job, on
// a matrix of inputs that cannot flatter us:
//   text    one 64 MiB file of words drawn from a vocabulary of 5 000
//   random  one 64 MiB file of random bytes
//   mixed   a 1 GiB tree: text, gzip files, binaries from /usr/lib, noise
//   small   200 000 files of about 350 bytes
// into each format: SAF beside `tar cf - | compress -b12`, ZIP beside
// `zip -r -6`, discrete copies beside `cp -a`; every side ends with its
// output flushed to disk, as a backup does. Then the incremental run that
// finds nothing changed in the small tree, beside `find -newer`.
//
// Each pair runs N times (default 5), alternating who goes first, on a warm
// cache; the median counts. Outputs of earlier runs are moved aside, not
// deleted, until the pair is done: an ext4 file system without a journal
// passes over inodes freed in the last half minute when it makes files,
// one by one, and a copy of 200 000 files made just after deleting the last
// one takes several times as long, whichever tool makes it. The peak resident size of every run is
// taken from wait4(). The table is printed in Markdown for docs/benchmarks.md.
//
//   backup_bench [--runs N] [--inputs text,random,mixed,small]
//                [--formats saf,zip,discrete] [--mixed-mib M] [--small-files K]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "common/backup_set.h"
#include "common/registry.h"
#include "common/setting_names.h"
#include "common/suite_names.h"

namespace fs = std::filesystem;
using namespace vardel;

namespace {

struct Measure {
    double wall = 0, cpu = 0;
    double peak_mb = 0;
};

// Runs a command through /bin/sh -c with stdout and stderr to /dev/null
// unless the command redirects them; exits the benchmark when it fails.
// Exit status 2 of `compress` (output larger than input) is no failure.
Measure run_child(const std::string& command, bool allow_two = false) {
    Measure m;
    int status = 0;
    struct rusage ru {};
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    wait4(pid, &status, 0, &ru);
    m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    m.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
            static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    m.peak_mb = static_cast<double>(ru.ru_maxrss) / 1024.0;
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    if (code != 0 && !(allow_two && code == 2)) {
        std::fprintf(stderr, "backup_bench: failed (%d): %s\n", code, command.c_str());
        std::exit(1);
    }
    return m;
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

uint64_t tree_bytes(const std::string& path, size_t* files = nullptr) {
    uint64_t n = 0;
    size_t count = 0;
    if (fs::is_regular_file(path)) return fs::file_size(path);
    for (auto& e : fs::recursive_directory_iterator(path))
        if (e.is_regular_file()) {
            n += e.file_size();
            ++count;
        }
    if (files) *files = count;
    return n;
}

std::string deflated(const std::string& plain) {
    uLongf len = compressBound(static_cast<uLong>(plain.size()));
    std::string out(len, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &len,
              reinterpret_cast<const Bytef*>(plain.data()), static_cast<uLong>(plain.size()), 6);
    out.resize(len);
    return out;
}

// 1 GiB by default: text 40%, gzip files 20%, binaries from /usr/lib 25%,
// random bytes 15%; sizes from a few hundred bytes to several MiB.
void make_mixed(const std::string& root, size_t total) {
    std::mt19937 rng(11);
    size_t made = 0, n = 0;
    auto add = [&](const std::string& rel, const std::string& data) {
        bench::write_file(root + "/" + rel, data);
        made += data.size();
        ++n;
    };
    auto size = [&](size_t left) {
        size_t s = rng() % 8 == 0 ? (1u << 20) + rng() % (6u << 20) : 300 + rng() % (96u << 10);
        return std::min(s, left);
    };
    const size_t text = total * 40 / 100, gz = total * 20 / 100, bin = total * 25 / 100;
    for (size_t done = 0; done < text;) {
        size_t s = size(text - done);
        add("docs/d" + std::to_string(n % 23) + "/note " + std::to_string(n) + ".txt",
            bench::words_text(s, static_cast<uint32_t>(n)));
        done += s;
    }
    for (size_t done = 0; done < gz;) {
        std::string z = deflated(bench::words_text(size(gz - done) * 3, static_cast<uint32_t>(n)));
        add("archives/a" + std::to_string(n % 7) + "/pack" + std::to_string(n) + ".gz", z);
        done += z.size();
    }
    // Real binaries: libraries and programs as they come.
    size_t done = 0;
    for (int pass = 0; done < bin && pass < 8; ++pass) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(
                 "/usr/lib", fs::directory_options::skip_permission_denied, ec);
             it != fs::recursive_directory_iterator() && done < bin; it.increment(ec)) {
            if (ec) break;
            if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
            uintmax_t sz = it->file_size(ec);
            if (ec || sz == 0 || sz > (8u << 20) || done + sz > bin) continue;
            std::string rel = "bin/p" + std::to_string(pass) + "/" +
                              it->path().lexically_relative("/usr/lib").string();
            fs::create_directories(fs::path(root + "/" + rel).parent_path());
            if (fs::copy_file(it->path(), root + "/" + rel, ec)) {
                done += sz;
                made += sz;
                ++n;
            }
        }
    }
    for (size_t left = total > made ? total - made : 0; left > 0;) {
        size_t s = size(left);
        add("media/m" + std::to_string(n % 5) + "/img" + std::to_string(n) + ".jpg",
            bench::random_bytes(s, static_cast<uint32_t>(n)));
        left -= s;
    }
}

void make_small(const std::string& root, size_t files) {
    std::mt19937 rng(5);
    for (size_t i = 0; i < files; ++i) {
        char rel[96];
        std::snprintf(rel, sizeof rel, "/s%zu/d%zu/f%zu.txt", i / 20000, i / 500, i);
        bench::write_file(root + rel,
                          bench::words_text(200 + rng() % 300, static_cast<uint32_t>(i)));
    }
}

struct Row {
    std::string input, format, peer;
    double ours = 0, cpu = 0, peer_s = 0, ours_mb = 0, peer_mb = 0;
    double size_ratio = 0;  // 0: not shown
    double target = 0;
    double memory_limit = 0;
};

std::vector<Row> rows;

void print_row(const Row& r) {
    double ratio = r.peer_s > 0 ? r.ours / r.peer_s : 0;
    char size[32] = "";
    if (r.size_ratio > 0) std::snprintf(size, sizeof size, "%.3f", r.size_ratio);
    std::printf(
        "| %s | %s | %.3f | %.2f | %s | %.3f | **%.2f** | %s %.2f | %.0f | %.0f (< %.0f) | %s |\n",
        r.input.c_str(), r.format.c_str(), r.ours, r.cpu, r.peer.c_str(), r.peer_s, ratio,
        ratio <= r.target ? "meets" : "misses", r.target, r.peer_mb, r.ours_mb, r.memory_limit,
        size);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::string inputs = "text,random,mixed,small", formats = "saf,zip,discrete";
    size_t mixed_mib = 1024, small_files = 200000;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i], v = argv[i + 1];
        if (a == "--runs")
            runs = std::max(1, std::atoi(v.c_str()));
        else if (a == "--inputs")
            inputs = v;
        else if (a == "--formats")
            formats = v;
        else if (a == "--mixed-mib")
            mixed_mib = std::strtoul(v.c_str(), nullptr, 10);
        else if (a == "--small-files")
            small_files = std::strtoul(v.c_str(), nullptr, 10);
    }
    for (const char* tool : {"tar", "compress", "zip", "unzip", "cp", "find", "sync"}) {
        if (!bench::have_command(tool)) {
            std::fprintf(stderr, "backup_bench: %s is needed\n", tool);
            return 1;
        }
    }
    const fs::path self = fs::canonical("/proc/self/exe");
    const std::string vardeld = (self.parent_path().parent_path() / "vardeld" / "vardeld").string();
    const std::string dir = bench::scratch_dir("backup");
    setenv("VARDEL_ROOT", (dir + "/root").c_str(), 1);
    fs::create_directories(dir + "/root");
    fs::create_directories(dir + "/logs");
    {
        auto product = registry::create_key(registry::Root::LocalMachine, kProductKey);
        registry::write_text(*product, kInstallDirValue, self.parent_path().parent_path().string());
        registry::write_number(*product, kServerPortValue, 2820);  // unused by --run
        registry::write_text(*product, "LogFilePath", dir + "/logs");
    }

    struct Input {
        const char* key;
        std::string path;  // a file or a folder
        std::string label;
    };
    std::vector<Input> made;
    auto want = [](const std::string& list, const char* key) {
        return ("," + list + ",").find(std::string(",") + key + ",") != std::string::npos;
    };
    if (want(inputs, "text"))
        made.push_back({"text", dir + "/in/text", "one 64 MiB text file (5 000 words)"});
    if (want(inputs, "random"))
        made.push_back({"random", dir + "/in/random", "one 64 MiB random file"});
    if (want(inputs, "mixed")) made.push_back({"mixed", dir + "/in/mixed", ""});
    if (want(inputs, "small")) made.push_back({"small", dir + "/in/small", ""});
    // The inputs are made by a child: this process stays small, and so does
    // every process it starts (a child's peak counts what it inherits).
    pid_t maker = fork();
    if (maker == 0) {
        for (const Input& in : made) {
            std::string key = in.key;
            if (key == "text")
                bench::write_file(in.path + "/words.txt", bench::words_text(64u << 20, 3));
            if (key == "random")
                bench::write_file(in.path + "/noise.bin", bench::random_bytes(64u << 20, 4));
            if (key == "mixed") make_mixed(in.path, mixed_mib << 20);
            if (key == "small") make_small(in.path, small_files);
        }
        _exit(0);
    }
    int maker_status = 0;
    waitpid(maker, &maker_status, 0);
    if (!WIFEXITED(maker_status) || WEXITSTATUS(maker_status) != 0) {
        std::fprintf(stderr, "backup_bench: the inputs could not be made\n");
        return 1;
    }
    for (Input& in : made) {
        size_t files = 0;
        uint64_t bytes = tree_bytes(in.path, &files);
        if (in.label.empty())
            in.label = std::to_string(files) + " files, " + std::to_string(bytes >> 20) + " MiB";
    }
    // Nothing in the trees may be as new as a full backup's start, or the
    // incremental run would take it; and both sides read from a warm cache.
    run_child("sleep 1.1; sync; find " + quote(dir + "/in") +
              " -type f -print0 | xargs -0 cat > /dev/null");

    struct Format {
        const char* key;
        int number;
        const char* name;
        const char* peer_name;
        const char* out;  // our output in the destination
        double target;
        const char* peer_ext;
    };
    const Format all[] = {
        {"saf", SAVE_SAF, "SAF", "tar \\| compress -b12", "B1_1.SAF", 0.67, ".tar.Z"},
        {"zip", SAVE_ZIP, "ZIP", "zip -r -6", "B1_1.ZIP", 0.67, ".zip"},
        {"discrete", SAVE_DISCRETE, "discrete", "cp -a", "B1_1", 0.67, ""},
    };

    int set_aside_count = 0;
    auto set_aside = [&](const std::string& path) {
        if (!fs::exists(path)) return;
        fs::create_directories(dir + "/aside");
        fs::rename(path, dir + "/aside/" + std::to_string(++set_aside_count));
    };
    auto clear_aside = [&] {
        fs::remove_all(dir + "/aside");
        run_child("sync");
    };

    std::printf(
        "| input | format | ours (s) | ours CPU (s) | peer | peer (s) | ours / peer "
        "| target | peer peak MB | ours peak MB | size ours / peer |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
    for (const Input& in : made) {
        size_t files = 0;
        tree_bytes(in.path, &files);
        for (const Format& f : all) {
            if (!want(formats, f.key)) continue;
            const std::string dest = dir + "/dest-" + f.key;
            const std::string peer_out = dir + "/peer-" + f.key + f.peer_ext;
            BackupSet set;
            set.Name = std::string("Bench-") + in.key + "-" + f.key;
            set.BackupDestination = dest;
            set.BackupDirs = in.path;
            set.BackuDestinationType = DESTINATION_DIRECTORY;
            set.IntervalType = INTERVAL_ON_DEMAND;
            set.SaveFormat = f.number;
            set.BackupType = BACKUP_INCREMENTAL;
            set.BackupsPerCycle = 2;
            set.Enabled = false;
            set.save();
            const std::string ours_cmd =
                quote(vardeld) + " --run " + quote(set.Name) + " > /dev/null 2>&1";
            std::string peer_cmd;
            if (f.number == SAVE_SAF)
                peer_cmd = "tar cf - -C " + quote(in.path) + " . | compress -b12 -c > " +
                           quote(peer_out) + "; r=$?; sync " + quote(peer_out) + "; exit $r";
            else if (f.number == SAVE_ZIP)
                peer_cmd = "cd " + quote(in.path) + " && zip -q -r -6 " + quote(peer_out) +
                           " . && sync " + quote(peer_out);
            else
                peer_cmd = "cp -a " + quote(in.path) + " " + quote(peer_out) + " && sync -f " +
                           quote(peer_out);
            std::vector<double> ours, cpu, peer, ours_mb, peer_mb;
            for (int r = 0; r < runs; ++r) {
                auto ours_run = [&] {
                    set_aside(dest);
                    run_child("sync");
                    Measure m = run_child(ours_cmd);
                    ours.push_back(m.wall);
                    cpu.push_back(m.cpu);
                    ours_mb.push_back(m.peak_mb);
                    if (!fs::exists(dest + "/" + f.out)) {
                        std::fprintf(stderr, "backup_bench: %s left no %s\n", set.Name.c_str(),
                                     f.out);
                        std::exit(1);
                    }
                };
                auto peer_run = [&] {
                    set_aside(peer_out);
                    run_child("sync");
                    Measure m = run_child(peer_cmd, f.number == SAVE_SAF);
                    peer.push_back(m.wall);
                    peer_mb.push_back(m.peak_mb);
                };
                if (r % 2 == 0) {
                    ours_run();
                    peer_run();
                } else {
                    peer_run();
                    ours_run();
                }
            }
            Row row;
            row.input = in.label;
            row.format = f.name;
            row.peer = f.peer_name;
            row.ours = median(ours);
            row.cpu = median(cpu);
            row.peer_s = median(peer);
            row.ours_mb = *std::max_element(ours_mb.begin(), ours_mb.end());
            row.peer_mb = *std::max_element(peer_mb.begin(), peer_mb.end());
            row.target = f.target;
            row.memory_limit = 64 + 200.0 * static_cast<double>(files) / 1e6;
            row.size_ratio = static_cast<double>(tree_bytes(dest + "/" + f.out)) /
                             static_cast<double>(std::max<uint64_t>(1, tree_bytes(peer_out)));
            print_row(row);
            set_aside(peer_out);

            // Nothing changed since: the second run of the cycle walks the
            // tree and saves nothing, beside `find -newer`.
            if (std::string(in.key) == "small") {
                const std::string stamp = dir + "/stamp";
                run_child("touch -r " + quote(dest + "/" + f.out) + " " + quote(stamp));
                std::vector<double> o, c, p, mb;
                for (int r = 0; r < runs; ++r) {
                    Measure m = run_child(ours_cmd);
                    o.push_back(m.wall);
                    c.push_back(m.cpu);
                    mb.push_back(m.peak_mb);
                    p.push_back(run_child("find " + quote(in.path) + " -newer " + quote(stamp) +
                                          " > /dev/null")
                                    .wall);
                }
                if (fs::exists(dest + "/B1_2.SAF") || fs::exists(dest + "/B1_2.ZIP") ||
                    fs::exists(dest + "/B1_2")) {
                    std::fprintf(stderr, "backup_bench: the incremental run saved something\n");
                    return 1;
                }
                Row inc;
                inc.input = in.label;
                inc.format = std::string("no-change incremental, ") + f.name;
                inc.peer = "find -newer";
                inc.ours = median(o);
                inc.cpu = median(c);
                inc.peer_s = median(p);
                inc.ours_mb = *std::max_element(mb.begin(), mb.end());
                inc.target = 1.2;
                inc.memory_limit = row.memory_limit;
                print_row(inc);
            }
            set_aside(dest);
            clear_aside();
        }
    }
    // A set with nothing to save: the run's own start and end.
    {
        fs::create_directories(dir + "/in/empty");
        BackupSet set;
        set.Name = "Bench-empty";
        set.BackupDestination = dir + "/dest-empty";
        set.BackupDirs = dir + "/in/empty";
        set.BackuDestinationType = DESTINATION_DIRECTORY;
        set.IntervalType = INTERVAL_ON_DEMAND;
        set.Enabled = false;
        set.save();
        std::vector<double> w;
        for (int r = 0; r < runs; ++r)
            w.push_back(run_child(quote(vardeld) + " --run Bench-empty > /dev/null 2>&1").wall);
        std::printf(
            "\n`vardeld --run` of a set with nothing to save: %.3f s (median of %d; "
            "target under 0.030 s)\n",
            median(w), runs);
    }
    return 0;
}
