// Faults thrown at the installed suite while the service runs: a destination
// that fills up, a tree full of trouble (unreadable, vanishing and growing
// files, a crowded folder, a very long path, names of every byte), and
// damaged files (the settings store, "BACKUP.INI", a SAF, a ZIP). Each time
// nothing saved is lost, the user is told, and the service keeps running.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "common/pipe_record.h"
#include "tests/e2e/suite.h"
#include "tests/support/running_service.h"
#include "tests/support/smtp_server.h"
#include "tests/support/test_data.h"
#include "tests/support/tiny_fs.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::CollectingClient;

class Faults : public test::SuiteTest {
  protected:
    // A set of `format` from `from` into `to`, run on demand only.
    std::string set_text(const std::string& name, const std::string& format,
                         const std::string& from, const std::string& to) {
        return "[" + name + "]\nIntervalType=On Demand\nBackupType=Full\nBackupsPerCycle=9\n" +
               "BackuDestinationType=Directory\nBackupDestination=\"" + to + "\"\n" +
               "BackupDirs=\"" + from + "\"\nSavePathInfo=Y\nIncludeHiddenFiles=Y\n" +
               "SaveFormat=" + format + "\n";
    }
    // Runs the set by request and waits for its end: code 14 completed, 16
    // aborted (text: the set's name) or 15 failed (text: why); code 0 when
    // no end came.
    PipeRecord run_set(const std::string& name) {
        CollectingClient c(CollectingClient::Asks::Register);
        if (!c.connected() || !c.send(PIPE_RUN_SET, name)) return {};
        auto end = c.wait_for(
            [&](const PipeRecord& r) {
                return r.code == PIPE_BACKUP_FAILED ||
                       ((r.code == PIPE_BACKUP_COMPLETED || r.code == PIPE_BACKUP_ABORTED) &&
                        r.text == name);
            },
            0, 120s);
        return end ? c.records()[*end] : PipeRecord{};
    }
    // The service answers its status.
    bool answers() {
        test::ChildResult r = run("vardelctl", {"status", "--raw"}, {}, 10s);
        return r.exit_code == 0 && test::lines(r.out).size() == 10;
    }
    test::ChildResult extract(const std::string& set, const std::string& base,
                              const std::string& to, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"--extract", "--set", set,    "--latest",
                                      "--base",    base,    "--to", path(to)};
        args.insert(args.end(), more.begin(), more.end());
        return run("vardelrestore", args);
    }
};

// A tmpfs too small for the second backup: the run fails and says why, its
// half-written output is gone, the first backups and "BACKUP.INI" are as
// they were and restore, and once there is room the service backs up again.
TEST_F(Faults, AFullDestinationFailsTheRunAndLosesNothing) {
    test::TinyFs tiny(path("backups"), 1536 * 1024);
    if (!tiny.ok()) GTEST_SKIP() << "no tmpfs to fill here: " << tiny.why_not();
    write_file("tree/a.bin", test::random_text(200000, 1));
    write_file("tree/b.txt", test::prose(100000));
    import_sets(set_text("Saf", "SAF Archive", path("tree"), path("backups/saf")) +
                set_text("Zip", "ZIP file", path("tree"), path("backups/zip")));
    ASSERT_TRUE(start_service()) << service_output();
    ASSERT_EQ(run_set("Saf").code, PIPE_BACKUP_COMPLETED) << log_text();
    ASSERT_EQ(run_set("Zip").code, PIPE_BACKUP_COMPLETED) << log_text();
    const test::Tree saved = test::snapshot(path("backups"));
    const test::Tree first = test::snapshot(path("tree"));

    const std::string big = write_file("tree/big.bin", test::random_text(2 << 20, 2));
    for (auto [set, folder] : {std::pair{"Saf", "saf"}, std::pair{"Zip", "zip"}}) {
        SCOPED_TRACE(set);
        PipeRecord failed = run_set(set);
        EXPECT_EQ(failed.code, PIPE_BACKUP_FAILED) << log_text();
        EXPECT_EQ(failed.text, "Can't write the backup to " + path("backups/") + folder +
                                   "/: No space left on device");
        EXPECT_TRUE(answers());
    }
    EXPECT_EQ(test::tree_difference(saved, test::snapshot(path("backups"))), "");
    for (const char* set : {"Saf", "Zip"}) {
        std::string to = std::string("out-") + set;
        test::ChildResult r = extract(set, path("tree") + "/", to);
        EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
        EXPECT_EQ(test::tree_difference(first, test::snapshot(path(to)), false), "") << set;
    }
    fs::remove(big);
    EXPECT_EQ(run_set("Zip").code, PIPE_BACKUP_COMPLETED) << log_text();
    EXPECT_TRUE(fs::exists(path("backups/zip/B1_2.ZIP")));
}

// A tree full of trouble, saved by a service that, like root on a share
// that squashes it, cannot read what its modes forbid: a file and a folder
// it may not read, files vanishing while the walk is in their folder, a
// file growing while it is read, 10 000 files in one folder, a path of 4 000
// bytes and names holding every byte a name can hold. The run completes, its
// mailed report names what it could not save, and the restore brings back
// every other file, name for name and byte for byte.
TEST_F(Faults, ATroublesomeTreeIsSavedAndTheReportNamesWhatWasNot) {
    // Tens of thousands of files: on a tmpfs where one can be had, they come
    // and go at once.
    test::TinyFs fast(path("fast"), 256u << 20);
    write_file("fast/tree/plain/a.txt", test::prose(30000));
    const std::string locked = write_file("fast/tree/locked.txt", "private\n");
    ::chmod(locked.c_str(), 0);
    write_file("fast/tree/closed/inner.txt", "behind a closed door\n");
    ::chmod(path("fast/tree/closed").c_str(), 0);
    for (int i = 0; i < 10000; ++i)
        write_file("fast/tree/crowd/f" + std::to_string(i), std::to_string(i * 7919) + "\n");
    std::string deep = "fast/tree/deep";
    for (char c = 'a'; path(deep).size() + 250 < 3990; ++c) deep += "/" + std::string(249, c);
    deep += "/" + std::string(3999 - path(deep).size(), 'z');
    ASSERT_EQ(write_file(deep, "far down\n").size(), 4000u);
    std::string every;
    for (int b = 1; b < 256; ++b)
        if (b != '/') every.push_back(static_cast<char>(b));
    write_file("fast/tree/names/" + every, "every byte\n");
    for (char b : every)
        if (b != '.') write_file("fast/tree/names/n" + std::string(1, b), std::string(1, b));
    std::map<std::string, std::string> vanishing;
    for (int i = 0; i < 3000; ++i) {
        std::string name = "vanish/v" + std::to_string(i);
        vanishing[name] = test::prose(500, i);
        write_file("fast/tree/" + name, vanishing[name]);
    }
    const std::string growing = write_file("fast/tree/grow.log", "");

    test::SmtpServer smtp(path("smtp"));
    ASSERT_TRUE(smtp.ok()) << smtp.why_not();
    std::string settings =
        write_file("mail.ini",
                   "[SETTINGS]\nSendEmailOnCompletion=Y\nCompletionEmail=\"owner@example.org\"\n"
                   "FromEmail=vardel@example.org\nSMTPHost=" +
                       smtp.host() + "\n");
    ASSERT_EQ(run("vardelcfg", {"--import-settings", settings}).exit_code, 0);
    import_sets(set_text("Trouble", "SAF Archive", path("fast/tree"), path("fast/backups")));
    std::vector<std::string> without_overrides;
    if (::geteuid() == 0)
        without_overrides = {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search",
                             "--"};
    ASSERT_TRUE(start_service(without_overrides)) << service_output();

    std::atomic<bool> stop{false};
    std::thread grower([&] {
        std::ofstream out(growing, std::ios::app | std::ios::binary);
        for (int i = 0; !stop && i < 40000; ++i) {
            out << test::prose(1000, i) << std::flush;
            std::this_thread::sleep_for(500us);  // a writer, not a flood
        }
    });
    CollectingClient c(CollectingClient::Asks::Both);
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.send(PIPE_RUN_SET, "Trouble"));
    // The walk is in the folder: its files go.
    bool emptied = c.wait_for(
                        [&](const PipeRecord& r) {
                            return r.text.rfind("Save " + path("fast/tree/vanish/"), 0) == 0;
                        },
                        0, 120s)
                       .has_value();
    if (emptied)
        for (auto& [name, bytes] : vanishing) fs::remove(path("fast/tree/" + name));
    auto end = c.wait_for(
        [](const PipeRecord& r) {
            return r.code >= PIPE_BACKUP_COMPLETED && r.code <= PIPE_BACKUP_ABORTED;
        },
        0, 120s);
    stop = true;
    grower.join();
    ASSERT_TRUE(emptied) << log_text();
    ASSERT_TRUE(end && c.records()[*end].code == PIPE_BACKUP_COMPLETED) << log_text();

    ASSERT_TRUE(test::wait_until([&] { return !smtp.messages().empty(); }, 20s));
    const std::string mail = smtp.messages().front();
    EXPECT_NE(mail.find("The following files could not be backed up:"), std::string::npos) << mail;
    for (const std::string& unsaved : {locked, path("fast/tree/closed")})
        EXPECT_NE(mail.find(unsaved), std::string::npos) << unsaved << "\n" << mail;

    ::chmod(path("fast/tree/closed").c_str(), 0755);
    test::ChildResult r = extract("Trouble", path("fast/tree") + "/", "fast/out");
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    test::Tree want = test::snapshot(path("fast/tree"));
    test::Tree got = test::snapshot(path("fast/out"));
    want.erase("locked.txt");
    want.erase("closed/inner.txt");
    want.erase("grow.log");
    for (auto& [name, bytes] : vanishing) {
        if (auto it = got.find(name); it != got.end()) {
            EXPECT_EQ(it->second.bytes, bytes) << name;
            got.erase(it);
        }
    }
    // The growing file is saved as it was at some moment, or named as not saved.
    if (auto it = got.find("grow.log"); it != got.end()) {
        EXPECT_EQ(read_file(growing).compare(0, it->second.bytes.size(), it->second.bytes), 0);
        got.erase(it);
    } else {
        EXPECT_NE(mail.find(growing), std::string::npos) << mail;
    }
    EXPECT_EQ(test::tree_difference(want, got, false), "");
    EXPECT_TRUE(answers());
}

// Damaged files met by the programs: a torn SAF, a ZIP whose central
// directory is gone, a "BACKUP.INI" of garbage and a settings store with
// garbage in its pages. Each is told, the rest restores, the service runs.
TEST_F(Faults, DamagedFilesAreToldAndTheRestIsKept) {
    write_file("tree/a.txt", test::prose(50000));
    write_file("tree/b.bin", test::random_text(50000, 4));
    import_sets(set_text("Saf", "SAF Archive", path("tree"), path("backups/saf")) +
                set_text("Zip", "ZIP file", path("tree"), path("backups/zip")));
    ASSERT_TRUE(start_service()) << service_output();
    for (const char* set : {"Saf", "Zip"})
        ASSERT_EQ(run_set(set).code, PIPE_BACKUP_COMPLETED) << log_text();
    const test::Tree first = test::snapshot(path("tree"));
    ::sleep(1);  // a change in the second of a backup's start counts for both
    write_file("tree/a.txt", test::prose(50000, 8));
    for (const char* set : {"Saf", "Zip"})
        ASSERT_EQ(run_set(set).code, PIPE_BACKUP_COMPLETED) << log_text();

    const std::string saf = path("backups/saf/B1_2.SAF"), zip = path("backups/zip/B1_2.ZIP");
    std::string bytes = read_file(saf);
    test::write_whole_file(saf, bytes.substr(0, bytes.size() / 2));
    bytes = read_file(zip);
    size_t end = bytes.rfind("PK\x05\x06");
    ASSERT_NE(end, std::string::npos);
    bytes.replace(end, 4, "XXXX");
    test::write_whole_file(zip, bytes);
    const std::map<std::string, std::string> told{
        {"Saf", "SAF file error: Can't load data headers from SAF file"},
        {"Zip", "ZIP file error: Can't read " + zip}};
    // The damaged backup is named; the one before it lists and restores.
    for (const auto& [set, message] : told) {
        SCOPED_TRACE(set);
        test::ChildResult r = list({"--set", set});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(test::lines(r.out).size(), 3u) << r.out;  // the heading and backup 1
        r = extract(set, path("tree") + "/", "latest-" + set);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(test::tree_difference(first, test::snapshot(path("latest-" + set)), false), "");
    }

    // A state file of garbage is rebuilt from the backups that are there.
    test::write_whole_file(path("backups/zip/BACKUP.INI"), test::random_text(300, 5));
    EXPECT_EQ(run_set("Zip").code, PIPE_BACKUP_COMPLETED) << log_text();
    const std::string state = read_file(path("backups/zip/BACKUP.INI"));
    for (const char* line : {"SEQUENCE=3", "BACKUPINSTANCE_1_1=", "BACKUPINSTANCE_1_3="})
        EXPECT_NE(state.find(line), std::string::npos) << line << "\n" << state;
    test::ChildResult r = extract("Zip", path("tree") + "/", "first-Zip", {"--save", "1"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(test::tree_difference(first, test::snapshot(path("first-Zip")), false), "");

    // Garbage in the settings store: the programs that need it say so and
    // fail; the service keeps the settings it has and goes on.
    {
        std::fstream f(path("root/registry.db"), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(100);
        std::string junk = test::random_text(20000, 6);
        f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    r = run("vardelcfg", {"--import-sets", path("sets.bst")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_FALSE(r.err.empty());
    r = list({"--set", "Saf"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("database disk image is malformed"), std::string::npos) << r.err;
    EXPECT_TRUE(answers());
    EXPECT_EQ(run_set("Saf").code, PIPE_BACKUP_COMPLETED) << log_text();
}

}  // namespace
}  // namespace vardel
