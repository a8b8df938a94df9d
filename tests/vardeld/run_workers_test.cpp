// The run with worker threads reading and compressing (or copying) ahead
// gives the same backup as the run on the backup thread alone: the same
// entries in the same order with the same stored bytes, the same copies,
// and under faults (a file that cannot be
// read, one that changes while it is read, a stop, a full destination) the
// same report and "BACKUP.INI".
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <regex>

#include "common/setting_names.h"
#include "common/text_helpers.h"
#include "containers/saf_reader.h"
#include "tests/support/fault_env.h"
#include "tests/support/tiny_fs.h"
#include "tests/vardeld/saving_support.h"
#include "vardeld/service_messages.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;

std::string some_bytes(size_t n, unsigned seed, bool text) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    static const char* const words[] = {"walk ", "piece ", "worker ", "entry\n", "4096 "};
    for (size_t k = 0; k < n;) {
        if (!text) {
            s[k++] = static_cast<char>(rng());
            continue;
        }
        for (const char* p = words[rng() % 5]; *p && k < n; ++p) s[k++] = *p;
    }
    return s;
}

class RunWorkers : public test::SavingTest {
  protected:
    // Files between folders, so the walk's windows end at folders and at
    // their own size; some larger than a piece, some stored (".zip"), empty.
    void make_tree() {
        for (int i = 0; i < 400; ++i) {
            std::string dir =
                i % 97 == 0 ? strprintf("data/d%d/inner", i % 5) : strprintf("data/d%d", i % 5);
            size_t size = i % 31 == 0 ? 0 : i % 150 == 3 ? (3u << 19) + 17 : 1 + (i * 7919) % 9000;
            const char* ext = i % 40 == 1 ? "zip" : "txt";
            write_file(strprintf("%s/f%03d.%s", dir.c_str(), i, ext),
                       some_bytes(size, static_cast<unsigned>(i), i % 3 != 0));
        }
        fs::create_directories(data() + "/d2/empty");
    }

    // Runs the set into its own destination with `workers`; the report
    // without its dated lines, and "BACKUP.INI" without its times.
    struct Outcome {
        int result = 0;
        std::vector<std::string> report;
        std::string state;
        std::string output;  // the archive or folder of the first backup
    };
    Outcome run_with(unsigned workers, const std::string& name) {
        services.workers = workers;
        set.BackupDestination = path(name);
        Outcome o;
        o.result = run_backup();
        static const std::regex date("[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d{4} [0-9:]{8}");
        for (const std::string& line : report)
            o.report.push_back(std::regex_replace(line, date, "#"));
        if (fs::exists(set.BackupDestination + "/BACKUP.INI"))
            for (std::string line : split_lines(read_file(set.BackupDestination + "/BACKUP.INI"))) {
                if (line.find("TIME=") != std::string::npos ||
                    line.rfind("BACKUPINSTANCE_", 0) == 0)
                    line.erase(line.find('='));
                o.state += line + "\n";
            }
        o.output = set.BackupDestination + "/B1_1" +
                   (set.SaveFormat == SAVE_SAF   ? ".SAF"
                    : set.SaveFormat == SAVE_ZIP ? ".ZIP"
                                                 : "");
        return o;
    }

    static std::vector<std::string> split_lines(const std::string& text) {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
            start = end + 1;
        }
        return lines;
    }

    // Every entry of a SAF archive as stored: header fields but the access
    // time (the first run's reads may move it), then the stored bytes.
    std::vector<std::string> saf_entries(const std::string& archive) {
        std::vector<std::string> out;
        SafReader reader;
        reader.open(archive);
        std::string bytes = read_file(archive);
        for (const SafEntry& e : reader.load_headers()) {
            out.push_back(strprintf("%u %u %u %s %u %llu %llu %llu %llu %08x %08x %llu ", e.number,
                                    e.type, e.method, e.name.c_str(), e.attributes,
                                    static_cast<unsigned long long>(e.last_write),
                                    static_cast<unsigned long long>(e.creation),
                                    static_cast<unsigned long long>(e.stored_length),
                                    static_cast<unsigned long long>(e.plain_length), e.stored_crc,
                                    e.plain_crc, static_cast<unsigned long long>(e.data_offset)) +
                          bytes.substr(e.data_offset, e.stored_length));
        }
        return out;
    }

    // Every discrete copy: its place, permission bits, time and bytes.
    std::map<std::string, std::string> copies(const std::string& folder) const {
        std::map<std::string, std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(folder)) {
            struct stat st {};
            ::lstat(e.path().c_str(), &st);
            std::string& v = out[e.path().lexically_relative(folder).string()];
            // A folder's time is when its last copy was made.
            v = strprintf("%o ", st.st_mode);
            if (e.is_regular_file())
                v += std::to_string(st.st_mtime) + " " + read_file(e.path().string());
        }
        return out;
    }

    void expect_same(const Outcome& one, const Outcome& many) {
        EXPECT_EQ(one.result, many.result);
        EXPECT_EQ(one.report, many.report);
        EXPECT_EQ(one.state, many.state);
        ASSERT_EQ(fs::exists(one.output), fs::exists(many.output));
        if (!fs::exists(one.output)) return;
        if (set.SaveFormat == SAVE_DISCRETE) {
            auto a = copies(one.output), b = copies(many.output);
            EXPECT_EQ(a.size(), b.size());
            for (const auto& [place, what] : a)
                EXPECT_TRUE(b[place] == what) << place << "\n"
                                              << what.substr(0, 60) << "\n"
                                              << b[place].substr(0, 60);
        } else if (set.SaveFormat == SAVE_SAF) {
            auto a = saf_entries(one.output), b = saf_entries(many.output);
            ASSERT_EQ(a.size(), b.size());
            for (size_t i = 0; i < a.size(); ++i)
                ASSERT_TRUE(a[i] == b[i]) << a[i].substr(0, 160) << "\n" << b[i].substr(0, 160);
        } else {
            // Nothing in a ZIP archive depends on when it was written.
            EXPECT_TRUE(read_file(one.output) == read_file(many.output));
        }
    }
};

TEST_F(RunWorkers, OneWorkerAndManyWriteTheSameArchives) {
    make_tree();
    general.EncodingPassword = "zwei Kerne";
    for (int format : {SAVE_SAF, SAVE_ZIP, SAVE_DISCRETE})
        for (bool encode : {false, true}) {
            SCOPED_TRACE(strprintf("format %d, encoded %d", format, encode ? 1 : 0));
            set.SaveFormat = format;
            set.PasswordEncode = encode;
            std::string tag = strprintf("%d%d", format, encode ? 1 : 0);
            Outcome one = run_with(1, "one" + tag);
            ASSERT_EQ(one.result, kResultCompleted);
            ASSERT_EQ(files_saved, 400);
            expect_same(one, run_with(3, "many" + tag));
        }
}

// A file that cannot be opened, one rewritten after it was read ahead and
// before its turn, and one that keeps growing while it is read.
TEST_F(RunWorkers, FaultsGiveTheSameReportWithWorkers) {
    make_tree();
    const std::string refused = data() + "/d1/f006.txt";
    const std::string busy = write_file("data/d4/busy.log", some_bytes(3u << 20, 9, true));
    // The walk takes a folder in the order the system lists it.
    std::vector<std::string> d3;
    for (const auto& e : fs::directory_iterator(data() + "/d3"))
        if (e.is_regular_file() && e.file_size() > 0) d3.push_back(e.path().string());
    ASSERT_GT(d3.size(), 10u);
    const std::string trigger = d3[2], rewritten = d3[8];
    const std::string original = read_file(rewritten);
    test::FaultEnv faults;
    faults.fail_open(refused, EIO);
    env = &faults;
    general.FileChangeHandling = CHANGE_TRY_AGAIN_LATER;
    general.FileValidationLevel = VALIDATION_FULL_READBACK;
    std::unique_ptr<test::Appender> appender;
    // busy.log grows between the snapshots around its entry: the entry's
    // writes wait until it has.
    services.saf_archive_file = [&] {
        auto f = std::make_unique<test::WatchedArchiveFile>();
        f->before_write = [&](size_t length) {
            if (length < (1u << 20) || !appender || !appender->running()) return;
            uint64_t size0 = fs::file_size(busy);
            test::wait_until([&] { return fs::file_size(busy) > size0; });
        };
        return f;
    };
    logs.on_line = [&](int, const std::string& text) {
        if (text != "Save " + trigger + "\n") return;
        test::write_whole_file(rewritten, "rewritten");
        // The same time in both runs, so that the entries can be compared.
        fs::last_write_time(rewritten, fs::file_time_type(std::chrono::seconds(1700000000)));
    };
    set.SaveFormat = SAVE_SAF;
    std::vector<Outcome> outcomes;
    for (unsigned workers : {1u, 2u}) {
        test::write_whole_file(rewritten, original);
        appender = std::make_unique<test::Appender>(busy);
        outcomes.push_back(run_with(workers, strprintf("w%u", workers)));
        appender->stop();
    }
    EXPECT_EQ(outcomes[0].result, kResultCompleted);
    EXPECT_NE(std::find(outcomes[0].report.begin(), outcomes[0].report.end(), refused),
              outcomes[0].report.end());
    EXPECT_NE(std::find(outcomes[0].report.begin(), outcomes[0].report.end(), busy),
              outcomes[0].report.end());
    EXPECT_EQ(test::read_saf(outcomes[1].output, "", scratch()).files[rewritten], "rewritten");
    expect_same(outcomes[0], outcomes[1]);

    // Discrete copies made ahead, under the same refusal and rewrite.
    set.SaveFormat = SAVE_DISCRETE;
    services.saf_archive_file = {};
    outcomes.clear();
    for (unsigned workers : {1u, 2u}) {
        test::write_whole_file(rewritten, original);
        outcomes.push_back(run_with(workers, strprintf("c%u", workers)));
    }
    EXPECT_EQ(read_file(outcomes[1].output + rewritten.substr(data().size())), "rewritten");
    expect_same(outcomes[0], outcomes[1]);
}

TEST_F(RunWorkers, AStopGivesTheSameReportWithWorkers) {
    make_tree();
    logs.on_line = [&](int, const std::string& text) {
        if (text == "Save " + data() + "/d2/f012.txt\n") flags_in_run->abort();
    };
    for (int format : {SAVE_SAF, SAVE_DISCRETE}) {
        set.SaveFormat = format;
        std::vector<Outcome> outcomes;
        for (unsigned workers : {1u, 2u})
            outcomes.push_back(run_with(workers, strprintf("w%u-%d", workers, format)));
        EXPECT_EQ(outcomes[0].result, kResultAborted);
        expect_same(outcomes[0], outcomes[1]);
        // Nothing of the stopped backup stays, copies made ahead neither.
        EXPECT_FALSE(fs::exists(outcomes[1].output));
    }
}

TEST_F(RunWorkers, AFullDestinationGivesTheSameReportWithWorkers) {
    test::TinyFs tiny(path("small"), 1u << 20);
    if (!tiny.ok()) GTEST_SKIP() << tiny.why_not();
    make_tree();
    for (int format : {SAVE_SAF, SAVE_DISCRETE}) {
        set.SaveFormat = format;
        std::vector<Outcome> outcomes;
        for (unsigned workers : {1u, 2u}) {
            // One place for both, as the report names it.
            outcomes.push_back(run_with(workers, "small/out"));
            fs::remove_all(path("small/out"));
        }
        EXPECT_EQ(outcomes[0].result, kResultFailed);
        expect_same(outcomes[0], outcomes[1]);
    }
}

}  // namespace
}  // namespace vardel
