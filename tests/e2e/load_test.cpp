// The service under load, with status asked for throughout: nine clients
// following a backup of 100 000 files while a tenth is refused, 1 000 run
// requests queued at once, and settings imported again and again while the
// service reloads them. What must hold is asserted (nothing lost, every
// answer arrives, memory stays bounded); the times are printed, not judged.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "common/pipe_record.h"
#include "tests/e2e/suite.h"
#include "tests/support/running_service.h"
#include "tests/support/tiny_fs.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::CollectingClient;

// Asks for the status over `client` again and again on a thread of its own
// until stopped, keeping how long each answer took.
class StatusProbe {
  public:
    explicit StatusProbe(CollectingClient& client)
        : thread_([this, &client] {
              while (!stop_) {
                  size_t from = client.size();
                  Clock::time_point asked = Clock::now();
                  if (!client.send(PIPE_SINGLE_STATUS)) break;
                  if (!client.wait_for([](const PipeRecord& r) { return r.code == PIPE_STATUS; },
                                       from, 10s)) {
                      ++unanswered_;
                      continue;
                  }
                  times_.push_back(
                      std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
                  std::this_thread::sleep_for(20ms);  // a steady asker, not a flood
              }
          }) {}
    ~StatusProbe() { stop(); }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // "what: n answers, median and longest wait" on standard output.
    void print(const char* what) {
        stop();
        std::vector<double> t = times_;
        std::sort(t.begin(), t.end());
        std::printf("%s: status asked %zu times, %d unanswered; median %.1f ms, longest %.1f ms\n",
                    what, t.size() + unanswered_, unanswered_, t.empty() ? 0 : t[t.size() / 2],
                    t.empty() ? 0 : t.back());
    }
    int unanswered() const { return unanswered_; }
    size_t answered() const { return times_.size(); }

  private:
    std::atomic<bool> stop_{false};
    std::vector<double> times_;
    int unanswered_ = 0;
    std::thread thread_;
};

class Load : public test::SuiteTest {
  protected:
    std::string set_text(const std::string& name, const std::string& from) {
        return "[" + name + "]\nIntervalType=On Demand\nBackupType=Full\nBackupsPerCycle=99\n" +
               "BackuDestinationType=Directory\nBackupDestination=\"" + fast_ + "/backups/" + name +
               "\"\nBackupDirs=\"" + from + "\"\nSavePathInfo=Y\n";
    }
    std::string fast_;
};

TEST_F(Load, FollowersQueuedRequestsAndReloadsLoseNothing) {
    test::TinyFs fast(path("fast"), 1u << 30);
    fast_ = path("fast");
    // On a tmpfs the 100 000 files come and go at once; where none can be
    // mounted, a tenth of them keeps the test within its time on a disk.
    const int kFiles = fast.ok() ? 100000 : 10000;
    for (int d = 0; d < kFiles / 1000; ++d)
        for (int f = 0; f < 1000; ++f)
            test::write_whole_file(fast_ + "/big/d" + std::to_string(d) + "/f" + std::to_string(f),
                                   std::to_string(d * 1000 + f) + "\n");
    write_file("fast/small/one.txt", "one\n");
    import_sets(set_text("Big", fast_ + "/big") + set_text("Small", fast_ + "/small"));
    ASSERT_TRUE(start_service()) << service_output();
    const long rss_start = test::rss_kib(service_pid());

    // Nine followers: eight `vardelctl follow` and the test's own client, which
    // asks for the status on the same connection. A tenth is refused.
    std::vector<std::unique_ptr<test::BackgroundProcess>> followers;
    for (int i = 0; i < 8; ++i)
        followers.push_back(start("vardelctl",
                                  {"follow", "--until", "14,15,16", "--timeout", "300"},
                                  path("follow" + std::to_string(i) + ".txt")));
    ASSERT_TRUE(test::wait_until(
        [&] {
            std::string out = service_output();
            size_t n = 0;
            for (size_t p = 0; (p = out.find("Register slot", p)) != std::string::npos; ++p) ++n;
            return n >= 8;
        },
        30s));
    auto own = std::make_unique<CollectingClient>(CollectingClient::Asks::Both);
    ASSERT_TRUE(own->connected());
    test::ChildResult tenth = run("vardelctl", {"status"}, {}, 10s);
    EXPECT_EQ(tenth.exit_code, 1) << tenth.out;

    Clock::time_point started = Clock::now();
    {
        StatusProbe probe(*own);
        ASSERT_TRUE(own->send(PIPE_RUN_SET, "Big"));
        EXPECT_TRUE(own->wait_for(PIPE_BACKUP_COMPLETED, "Big", 0, 240s)) << log_text();
        probe.print("9 followers of the big backup");
        EXPECT_EQ(probe.unanswered(), 0);
        EXPECT_GT(probe.answered(), 0u);
    }
    std::printf("backup of %d files with 9 followers: %.1f s\n", kFiles,
                std::chrono::duration<double>(Clock::now() - started).count());
    size_t fewest = kFiles;
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(followers[i]->wait(30s), 0) << "follower " << i;
        std::string seen = read_file(path("follow" + std::to_string(i) + ".txt"));
        EXPECT_NE(seen.find("13\tBig\n"), std::string::npos) << i;
        EXPECT_NE(seen.find("14\tBig\n"), std::string::npos) << i;
        size_t saves = 0;
        for (size_t p = 0; (p = seen.find("17\tSave ", p)) != std::string::npos; ++p) ++saves;
        fewest = std::min(fewest, saves);
    }
    // A follower too slow to read may miss log lines by design; print it.
    std::printf("the followers saw at least %zu of the %d Save lines\n", fewest, kFiles);
    own.reset();
    // Nothing lost: the backup lists every file.
    test::ChildResult listed = list({"--set", "Big"});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    EXPECT_EQ(test::lines(listed.out).size(), static_cast<size_t>(kFiles) + 1);
    const long rss_after_big = test::rss_kib(service_pid());

    // 1 000 run requests at once, held by a pause: the set runs until every
    // request is served, and the status is answered all the while.
    EXPECT_EQ(run("vardelctl", {"pause"}).exit_code, 0);
    {
        CollectingClient asker(CollectingClient::Asks::Register);
        CollectingClient prober(CollectingClient::Asks::Nothing);
        ASSERT_TRUE(asker.connected() && prober.connected());
        StatusProbe probe(prober);
        for (int i = 0; i < 1000; ++i) ASSERT_TRUE(asker.send(PIPE_RUN_SET, "Small"));
        ASSERT_TRUE(asker.wait_for(PIPE_BACKUP_STARTING, "Small", 0, 30s));
        EXPECT_EQ(run("vardelctl", {"resume"}).exit_code, 0);
        // Served when a run is over and the status shows nothing queued.
        EXPECT_TRUE(test::wait_until(
            [&] {
                std::vector<std::string> s = test::lines(run("vardelctl", {"status", "--raw"}).out);
                return s.size() == 10 && s[8] == "<none>";
            },
            120s));
        probe.print("1 000 queued requests");
        EXPECT_EQ(probe.unanswered(), 0);
        size_t runs = 0;
        for (const PipeRecord& r : asker.records())
            if (r.code == PIPE_BACKUP_COMPLETED && r.text == "Small") ++runs;
        std::printf("1 000 requests for one set: %zu runs\n", runs);
        EXPECT_GE(runs, 1u);
    }

    // Settings imported back to back while the service reloads each time.
    {
        CollectingClient prober(CollectingClient::Asks::Nothing);
        ASSERT_TRUE(prober.connected());
        StatusProbe probe(prober);
        for (int i = 0; i < 20; ++i) {
            std::string text =
                set_text("Big", fast_ + "/big") + set_text("Small", fast_ + "/small") +
                "[Round]\nIntervalType=On Demand\nBackupDirs=\"/r" + std::to_string(i) + "\"\n";
            test::ChildResult r =
                run("vardelcfg", {"--import-sets", write_file("round.bst", text)});
            EXPECT_EQ(r.exit_code, 0) << r.err;
        }
        probe.print("20 imports and reloads");
        EXPECT_EQ(probe.unanswered(), 0);
    }
    test::ChildResult exported =
        run("vardelcfg", {"--export-sets", path("last.bst"), "--set", "Round"});
    EXPECT_EQ(exported.exit_code, 0) << exported.err;
    EXPECT_NE(read_file(path("last.bst")).find("/r19"), std::string::npos);
    {
        CollectingClient c(CollectingClient::Asks::Register);
        ASSERT_TRUE(c.connected() && c.send(PIPE_RUN_SET, "Small"));
        EXPECT_TRUE(c.wait_for(PIPE_BACKUP_COMPLETED, "Small", 0, 60s));
    }

    const long rss_end = test::rss_kib(service_pid());
    std::printf(
        "service memory (RSS): %ld KiB at start, %ld after the big backup, %ld at the end\n",
        rss_start, rss_after_big, rss_end);
    EXPECT_LT(rss_end, rss_after_big * 2 + 20 * 1024);
}

}  // namespace
}  // namespace vardel
