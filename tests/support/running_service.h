#pragma once
// End-to-end tests of the service: a fixture that writes a settings store
// into the test's VARDEL_ROOT, starts a real `vardeld -i` on it, waits until
// its control socket answers, and shuts it down after the test; and a client
// that keeps its connection and collects what the service sends.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/pipe_record.h"
#include "pipeclient/control_client.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel::test {

// A connection with a reader thread that keeps every record, in order.
// Records are read on the reader thread; the wait and look calls come from
// the test's thread.
class CollectingClient {
  public:
    enum class Asks { Nothing, Register, Subscribe, Both };

    // Connects, asks for notices and/or log lines, and waits until the
    // service has taken the requests (a status round trip, whose answer is
    // kept like any other record). connected() says whether it worked.
    explicit CollectingClient(Asks asks, const std::string& socket_path = {});
    ~CollectingClient();

    bool connected() const { return connected_; }
    bool send(uint32_t code, const std::string& text = {});
    // Waits until a record that `match` accepts came (at or after `from`);
    // its index, or none after the time-out.
    std::optional<size_t> wait_for(const std::function<bool(const PipeRecord&)>& match,
                                   size_t from = 0,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(30));
    std::optional<size_t> wait_for(uint32_t code, const std::string& text, size_t from = 0,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(30));
    std::vector<PipeRecord> records() const;
    size_t size() const;
    // The connection broke (the reader handed over its notice).
    bool broken() const;

  private:
    ControlClient client_;
    bool connected_ = false;
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::vector<PipeRecord> records_;
    bool broken_ = false;
};

// The status text split at its line ends: ten lines, the tenth empty while
// a backup runs.
std::vector<std::string> status_lines(const std::string& status_text);

// Waits until the service's control socket takes a connection; false when
// the service ended first or never answered.
bool wait_for_control_socket(BackgroundProcess& service);

class ServiceTest : public ScratchTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A backup set of `files` small files under scratch()/sets/<name>/src,
    // saved to .../dest, run on demand only (so never scheduled). Call before
    // start_service().
    void add_set(const std::string& name, int files = 5);
    // Starts `vardeld -i` (its output in scratch()/vardeld.out) and waits for
    // its socket; false when it never answered.
    bool start_service();
    // Asks the service to shut down and waits: its exit code, or -2.
    int shut_down();
    bool service_running();

    // One status request on a fresh connection: the text, or "" without answer.
    std::string status_text();
    // Sends one request on a fresh connection and returns its first answer.
    std::optional<PipeRecord> ask(uint32_t code, const std::string& text = {});
    std::string service_output() const;

    // vardeld with other arguments and environment entries ("K=V"); does not
    // wait for its socket.
    void start_vardeld(const std::vector<std::string>& args,
                       const std::vector<std::string>& env = {});
    bool wait_for_socket();
    void signal_service(int signo);
    // The service's exit code, -1 killed by a signal, -2 still running after 30 s.
    int wait_for_exit();
    // vardeld run to its end, output captured.
    ChildResult run_vardeld(const std::vector<std::string>& args,
                            const std::vector<std::string>& env = {});
    // Every log file of the service (LOG_0.txt, LOG_1.txt, ...), in number order.
    std::string log_text() const;

  private:
    std::unique_ptr<BackgroundProcess> service_;
};

}  // namespace vardel::test
