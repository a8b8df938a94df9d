// The cost of a client that never reads: a backup that logs about 100 000
// lines (one per saved file), run by a real `vardeld -i`, once with a client
// that registered and subscribed to the log but never reads, once without
// (the peer figure); for scale, once with a subscriber that reads. Each run is timed from the run
// request to the completed notice, seen by a client that registered only. Runs alternate, and each
// side keeps its best time.
//   pipe_bench [FILES] [ROUNDS]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>

#include "bench/bench_util.h"
#include "common/backup_set.h"
#include "common/my_error.h"
#include "common/pipe_record.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "pipeclient/control_client.h"
#include "platform/local_socket.h"

using namespace vardel;
using namespace vardel::bench;
using namespace std::chrono_literals;

namespace {

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "pipe_bench: %s\n", why.c_str());
    std::exit(1);
}

std::string vardeld_path() {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    std::filesystem::path p = self.parent_path().parent_path() / "vardeld" / "vardeld";
    if (ec || !std::filesystem::exists(p))
        fail("vardeld not found beside the benchmarks: " + p.string());
    return p.string();
}

void write_store(const std::string& root, int files) {
    auto product = registry::create_key(registry::Root::LocalMachine, kProductKey);
    if (!product) fail("cannot create the settings store");
    registry::write_text(*product, kInstallDirValue, root);
    registry::write_number(*product, kServerPortValue, 2820);
    std::filesystem::create_directories(root + "/logs");
    registry::write_text(*product, "LogFilePath", root + "/logs");
    // Large enough that the log does not cycle between the runs.
    registry::write_number(*product, "CycleLogSize", 1 << 30);

    for (int i = 0; i < files; ++i)
        write_file(root + "/src/d" + std::to_string(i / 100) + "/f" + std::to_string(i), "x\n");
    std::filesystem::create_directories(root + "/dest");
    BackupSet s;
    s.Name = "Bench";
    s.BackupDestination = root + "/dest";
    s.BackupDirs = root + "/src";
    s.BackuDestinationType = 1;
    s.IntervalType = 3;  // on demand
    s.Enabled = false;
    s.BackupThreadPriority = 0;
    s.CyclesToSave = 1 << 20;  // every run a new cycle; nothing is deleted in between
    s.save();
}

pid_t start_service(const std::string& program) {
    pid_t pid = fork();
    if (pid < 0) fail("fork failed");
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execl(program.c_str(), program.c_str(), "-i", static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string sock = platform::control_socket_path();
    for (int i = 0; i < 1000; ++i) {
        int fd = platform::connect_seqpacket(sock);
        if (fd >= 0) {
            ::close(fd);
            return pid;
        }
        std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGKILL);
    fail("the service never answered on " + sock);
}

enum class Subscriber { None, Stalled, Reading };

// One run of the set, timed from the request to its end notice.
double timed_run(Subscriber kind, bool& stalled_was_dropped) {
    const bool with_stalled_client = kind == Subscriber::Stalled;
    ControlClient stalled("broken");
    ControlClient reading("broken");
    if (kind == Subscriber::Reading) {
        if (!reading.connect() || !reading.queue_message(PIPE_REQUEST_ONGOING))
            fail("the reading client could not subscribe");
        reading.start_reader([](const PipeRecord&) {});
    }
    if (with_stalled_client) {
        if (!stalled.connect() || !stalled.queue_message(PIPE_REGISTER) ||
            !stalled.queue_message(PIPE_REQUEST_ONGOING))
            fail("the stalled client could not subscribe");
    }
    ControlClient watcher("broken");
    if (!watcher.connect() || !watcher.queue_message(PIPE_REGISTER) ||
        !watcher.queue_message(PIPE_SINGLE_STATUS))
        fail("the watching client could not register");
    PipeRecord r;
    // The status answer says both registrations were taken.
    do {
        if (watcher.read_record(r, 30s) != ControlClient::ReadResult::Record)
            fail("no status answer");
    } while (r.code != PIPE_STATUS);

    double seconds = time_seconds([&] {
        try {
            ControlClient::send_once(PIPE_RUN_SET, "Bench");
        } catch (const MyError& e) {
            fail(e.message());
        }
        while (true) {
            if (watcher.read_record(r, 600s) != ControlClient::ReadResult::Record)
                fail("the connection ended before the run did");
            if (r.code == PIPE_BACKUP_COMPLETED) return;
            if (r.code == PIPE_BACKUP_FAILED || r.code == PIPE_BACKUP_ABORTED)
                fail("the run did not complete: " + r.text);
        }
    });
    stalled_was_dropped = false;
    if (with_stalled_client) {
        // Drain what it was left: did the service let it go?
        ControlClient::ReadResult got;
        while ((got = stalled.read_record(r, 200ms)) == ControlClient::ReadResult::Record) {
        }
        stalled_was_dropped = got == ControlClient::ReadResult::Closed;
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 2;
    if (files < 1 || rounds < 1) fail("usage: pipe_bench [FILES] [ROUNDS]");
    std::string root = scratch_dir("pipe");
    setenv("VARDEL_ROOT", root.c_str(), 1);
    std::string program = vardeld_path();
    write_store(root, files);
    pid_t service = start_service(program);

    double best_stalled = std::numeric_limits<double>::max();
    double best_plain = best_stalled, best_reading = best_stalled;
    bool dropped_any = false;
    for (int i = 0; i < rounds; ++i) {
        bool dropped = false;
        best_plain = std::min(best_plain, timed_run(Subscriber::None, dropped));
        best_stalled = std::min(best_stalled, timed_run(Subscriber::Stalled, dropped));
        dropped_any = dropped_any || dropped;
        best_reading = std::min(best_reading, timed_run(Subscriber::Reading, dropped));
    }

    try {
        ControlClient::send_once(PIPE_SHUT_DOWN, "");
    } catch (const MyError&) {
    }
    int status = 0;
    waitpid(service, &status, 0);

    std::printf("backup of %d files (one log line each), best of %d\n", files, rounds);
    print_time("run with a subscriber that never reads", best_stalled, "no such client",
               best_plain);
    // For scale: what an ordinary, reading subscriber costs.
    print_time("run with a subscriber that reads", best_reading, "no such client", best_plain);
    std::printf("the stalled subscriber was %s\n",
                dropped_any ? "disconnected by the service" : "still connected at the end");
    return 0;
}
