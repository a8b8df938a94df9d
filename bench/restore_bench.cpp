// The restore tool, run as a user runs it (vardelrestore --list / --extract),
// beside a peer tool on equivalent data in the same run:
//   - the catalogue and list of a SAF backup of 200 000 files, beside
//     `tar tf` of a tar of the same files, and the peak memory it took;
//   - extracting a tree of 1 GiB from a SAF, a ZIP and a discrete backup,
//     beside `uncompress | tar x`, `unzip` and `cp -a`.
// vardelrestore flushes what it extracted to disk before it reports
// "Copy completed"; the peers do not, so each peer is timed with a `sync`
// of the target's file system after it, which is the same work. Each side
// runs twice and keeps its best time.
//   restore_bench [FILES] [MiB]     (0 skips that part)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "common/destination_names.h"
#include "common/ini_document.h"
#include "containers/saf_writer.h"
#include "containers/zip_read_hook.h"
#include "containers/zip_writer.h"
#include "platform/file.h"

using namespace vardel;
using namespace vardel::bench;
namespace fs = std::filesystem;

namespace {

std::string program(const char* self, const char* name) {
    // The bench runs from build/bench; the programs sit beside it.
    fs::path here = fs::canonical(fs::path(self)).parent_path();
    return (here.parent_path() / name / name).string();
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void state_file(const std::string& dest, int format) {
    namespace d = destination;
    IniDocument ini;
    ini.set_text(d::kSection, d::kName, "Bench");
    ini.set_number(d::kSection, d::kCycles, 1);
    ini.set_number(d::kSection, d::kBackupsPerCycle, 1);
    ini.set_number(d::kSection, d::kSaveFormat, format);
    ini.set_number(d::kSection, d::kCycle, 1);
    ini.set_number(d::kSection, d::kSequence, 1);
    ini.set_number(d::kSection, d::instance_key(1, 1), 1733650000);
    write_file(dest + "/BACKUP.INI", ini.serialise());
}

void save_saf(const std::string& archive, const std::vector<std::string>& files) {
    SafWriter w;
    if (!w.create_archive(archive)) std::exit(1);
    for (const std::string& f : files) {
        platform::File src;
        if (!src.open(f, platform::OpenMode::Read) || !w.open_file_entry(f) ||
            !w.write_entry_data(src) || !w.close_entry())
            std::exit(1);
    }
    w.close_archive();
}

// Runs a command and returns its wall time and the peak resident size of
// the process it ran (kilobytes).
double time_child(const std::string& command, long* peak_kb) {
    double t = 0;
    pid_t pid = 0;
    int status = 0;
    t = time_seconds([&] {
        pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
            _exit(127);
        }
        struct rusage ru {};
        wait4(pid, &status, 0, &ru);
        if (peak_kb) *peak_kb = ru.ru_maxrss;
    });
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "restore_bench: failed: %s\n", command.c_str());
        std::exit(1);
    }
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200000;
    const size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024;
    for (const char* tool : {"tar", "compress", "uncompress", "unzip", "cp", "sync"})
        if (!have_command(tool)) {
            std::printf("restore_bench: %s is missing; skipped\n", tool);
            return 0;
        }
    const std::string restore = program(argv[0], "vardelrestore");
    const std::string work = scratch_dir("restore");

    // 1. The catalogue and list of 200 000 files.
    if (count > 0) {
        const std::string src = work + "/many";
        std::vector<std::string> files;
        files.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            std::string f =
                src + "/d" + std::to_string(i / 500) + "/file " + std::to_string(i) + ".txt";
            write_file(f, std::to_string(i));
            files.push_back(f);
        }
        const std::string dest = work + "/many-dest";
        fs::create_directories(dest);
        save_saf(dest + "/" + destination::saf_archive(1, 1), files);
        state_file(dest, 0);
        time_command("tar cf " + quote(work + "/many.tar") + " -C " + quote(work) + " many");
        long peak = 0;
        double ours = time_child(
            restore + " --list --ini " + quote(dest + "/BACKUP.INI") + " > /dev/null", &peak);
        double peer = time_child("tar tf " + quote(work + "/many.tar") + " > /dev/null", nullptr);
        print_time("catalogue and list of " + std::to_string(count) + " files", ours, "tar tf",
                   peer);
        std::printf("peak memory of the catalogue and list: %.1f MB (target: under 100 MB)\n",
                    peak / 1024.0);
        fs::remove_all(src);
        fs::remove_all(dest);
        fs::remove(work + "/many.tar");
    }

    // 2. Extraction of a 1 GiB tree: large and small files, text and noise.
    if (mib == 0) return 0;
    const std::string src = work + "/tree";
    std::vector<std::string> files;
    const size_t total = mib << 20, big = 16u << 20, small = 64u << 10;
    size_t made = 0;
    for (int i = 0; made < total * 7 / 8; ++i, made += big) {
        std::string f = src + "/big/part " + std::to_string(i) + (i % 4 ? ".txt" : ".bin");
        write_file(f, i % 4 ? text_like(big, 10 + i) : random_bytes(big, 10 + i));
        files.push_back(f);
    }
    for (int i = 0; made < total; ++i, made += small) {
        std::string f =
            src + "/small/d" + std::to_string(i / 100) + "/f" + std::to_string(i) + ".c";
        write_file(f, text_like(small, 1000 + i));
        files.push_back(f);
    }
    const std::string base = " --base " + quote(src + "/") + " --to ";
    auto run_ours = [&](const std::string& dest, const std::string& out) {
        return time_child(restore + " --extract --ini " + quote(dest + "/BACKUP.INI") + base +
                              quote(out) + " > /dev/null",
                          nullptr);
    };
    auto fresh = [&](const std::string& out) {
        fs::remove_all(out);
        fs::create_directories(out);
        time_command("sync");  // what earlier steps wrote is not this one's to flush
        return out;
    };
    const double mb = static_cast<double>(made) / (1 << 20);
    // Whoever runs right after a large removal pays for it (the file
    // system is still freeing), so each side runs twice, in the order
    // ours, peer, peer, ours, and keeps its best time.
    auto fairly = [&](const std::string& dest,
                      const std::function<double(const std::string&)>& peer) {
        double a = run_ours(dest, fresh(work + "/out"));
        double b = peer(fresh(work + "/out"));
        b = std::min(b, peer(fresh(work + "/out")));
        a = std::min(a, run_ours(dest, fresh(work + "/out")));
        return std::pair{a, b};
    };

    {  // SAF beside uncompress | tar x
        const std::string dest = work + "/saf";
        fs::create_directories(dest);
        save_saf(dest + "/" + destination::saf_archive(1, 1), files);
        state_file(dest, 0);
        time_command("tar cf - -C " + quote(src) + " . | compress -b12 > " +
                     quote(work + "/tree.tar.Z"));
        auto [ours, peer] = fairly(dest, [&](const std::string& out) {
            return time_command("uncompress < " + quote(work + "/tree.tar.Z") + " | tar xf - -C " +
                                quote(out) + " && sync -f " + quote(out));
        });
        print_rate("extract from SAF", mb / ours, "uncompress | tar x", mb / peer, "MB/s");
        fs::remove_all(dest);
        fs::remove(work + "/tree.tar.Z");
    }
    {  // ZIP beside unzip
        const std::string dest = work + "/zip";
        fs::create_directories(dest);
        auto zip = ZipWriter::create(dest + "/" + destination::zip_archive(1, 1));
        std::atomic<bool> no_abort{false};
        ZipReadHook hook(no_abort);
        for (const std::string& f : files) zip->add_file(ZipWriter::entry_name(f), f, hook);
        zip->close();
        state_file(dest, 1);
        auto [ours, peer] = fairly(dest, [&](const std::string& out) {
            return time_command("unzip -q -o " + quote(dest + "/B1_1.ZIP") + " -d " + quote(out) +
                                " && sync -f " + quote(out));
        });
        print_rate("extract from ZIP", mb / ours, "unzip", mb / peer, "MB/s");
        fs::remove_all(dest);
    }
    {  // discrete copies beside cp -a
        const std::string dest = work + "/discrete";
        const std::string copies = dest + "/B1_1" + src;
        fs::create_directories(fs::path(copies).parent_path());
        time_command("cp -a " + quote(src) + " " + quote(copies));
        state_file(dest, 2);
        auto [ours, peer] = fairly(dest, [&](const std::string& out) {
            return time_command("cp -a " + quote(copies) + " " + quote(out + "/tree") +
                                " && sync -f " + quote(out));
        });
        print_rate("extract from discrete copies", mb / ours, "cp -a", mb / peer, "MB/s");
        fs::remove_all(dest);
    }
    fs::remove_all(work + "/out");
    return 0;
}
