#include "tests/support/running_service.h"

#include <unistd.h>

#include <filesystem>

#include "common/backup_set.h"
#include "common/my_error.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "platform/local_socket.h"
#include "platform/paths.h"

namespace vardel::test {

using namespace std::chrono_literals;

CollectingClient::CollectingClient(Asks asks, const std::string& socket_path)
    : client_("Service connection broken!", socket_path) {
    if (!client_.connect()) return;
    client_.start_reader([this](const PipeRecord& r) {
        std::lock_guard l(m_);
        records_.push_back(r);
        if (r.code == PIPE_ALERT && r.text == "Service connection broken!") broken_ = true;
        cv_.notify_all();
    });
    if (asks == Asks::Register || asks == Asks::Both) send(PIPE_REGISTER);
    if (asks == Asks::Subscribe || asks == Asks::Both) send(PIPE_REQUEST_ONGOING);
    // The service handles one connection's requests in order: once the
    // status answer is here, the two above have been taken.
    send(PIPE_SINGLE_STATUS);
    connected_ =
        wait_for([](const PipeRecord& r) { return r.code == PIPE_STATUS; }, 0, 10s).has_value();
}

CollectingClient::~CollectingClient() {
    client_.close();
}

bool CollectingClient::send(uint32_t code, const std::string& text) {
    return client_.queue_message(code, text);
}

std::optional<size_t> CollectingClient::wait_for(
    const std::function<bool(const PipeRecord&)>& match, size_t from,
    std::chrono::milliseconds timeout) {
    std::unique_lock l(m_);
    std::optional<size_t> found;
    cv_.wait_for(l, timeout, [&] {
        for (size_t i = from; i < records_.size(); ++i)
            if (match(records_[i])) {
                found = i;
                return true;
            }
        from = records_.size();
        return broken_;
    });
    return found;
}

std::optional<size_t> CollectingClient::wait_for(uint32_t code, const std::string& text,
                                                 size_t from, std::chrono::milliseconds timeout) {
    return wait_for([&](const PipeRecord& r) { return r.code == code && r.text == text; }, from,
                    timeout);
}

std::vector<PipeRecord> CollectingClient::records() const {
    std::lock_guard l(m_);
    return records_;
}

size_t CollectingClient::size() const {
    std::lock_guard l(m_);
    return records_.size();
}

bool CollectingClient::broken() const {
    std::lock_guard l(m_);
    return broken_;
}

std::vector<std::string> status_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (true) {
        size_t end = text.find("\r\n", start);
        lines.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return lines;
}

void ServiceTest::SetUp() {
    ScratchTest::SetUp();
    auto product = registry::create_key(registry::Root::LocalMachine, kProductKey);
    ASSERT_TRUE(product);
    registry::write_text(*product, kInstallDirValue, VARDEL_BUILD_DIR);
    registry::write_number(*product, kServerPortValue, 2820);
    std::filesystem::create_directories(path("logs"));
    registry::write_text(*product, "LogFilePath", path("logs"));
}

void ServiceTest::TearDown() {
    if (service_ && service_->running()) {
        int code = shut_down();
        EXPECT_EQ(code, 0) << "the service did not end cleanly";
    }
    if (HasFailure()) std::fprintf(stderr, "service output:\n%s\n", service_output().c_str());
    service_.reset();
    ScratchTest::TearDown();
}

void ServiceTest::add_set(const std::string& name, int files) {
    std::string base = path("sets/" + name);
    for (int i = 0; i < files; ++i)
        write_file(
            "sets/" + name + "/src/d" + std::to_string(i / 100) + "/f" + std::to_string(i) + ".txt",
            "file " + std::to_string(i) + "\n");
    std::filesystem::create_directories(base + "/src");
    std::filesystem::create_directories(base + "/dest");
    BackupSet s;
    s.Name = name;
    s.BackupDestination = base + "/dest";
    s.BackupDirs = base + "/src";
    s.BackuDestinationType = 1;  // a directory
    s.IntervalType = 3;          // on demand
    s.Enabled = false;
    s.BackupThreadPriority = 0;
    s.save();
}

bool ServiceTest::start_service() {
    start_vardeld({"-i"});
    return wait_for_socket();
}

void ServiceTest::start_vardeld(const std::vector<std::string>& args,
                                const std::vector<std::string>& env) {
    std::vector<std::string> argv{program_path("vardeld")};
    argv.insert(argv.end(), args.begin(), args.end());
    service_ = std::make_unique<BackgroundProcess>(argv, env, path("vardeld.out"));
}

void ServiceTest::signal_service(int signo) {
    if (service_) service_->signal(signo);
}

int ServiceTest::wait_for_exit() {
    return service_ ? service_->wait(30s) : -2;
}

ChildResult ServiceTest::run_vardeld(const std::vector<std::string>& args,
                                     const std::vector<std::string>& env) {
    std::vector<std::string> argv{program_path("vardeld")};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, env, {}, 60s);
}

std::string ServiceTest::log_text() const {
    std::string all;
    for (int i = 0; i < 10; ++i) {
        std::string p = path("logs/LOG_" + std::to_string(i) + ".txt");
        if (std::filesystem::exists(p)) all += read_whole_file(p);
    }
    return all;
}

bool wait_for_control_socket(BackgroundProcess& service) {
    const std::string sock = platform::control_socket_path();
    return wait_until(
               [&] {
                   if (!service.running()) return true;  // gave up; reported below
                   int fd = platform::connect_seqpacket(sock);
                   if (fd < 0) return false;
                   ::close(fd);
                   return true;
               },
               20s) &&
           service.running();
}

bool ServiceTest::wait_for_socket() {
    return wait_for_control_socket(*service_);
}

int ServiceTest::shut_down() {
    try {
        ControlClient::send_once(PIPE_SHUT_DOWN, "");
    } catch (const MyError&) {
    }
    return service_->wait(20s);
}

bool ServiceTest::service_running() {
    return service_ && service_->running();
}

std::optional<PipeRecord> ServiceTest::ask(uint32_t code, const std::string& text) {
    ControlClient c("broken");
    if (!c.connect() || !c.queue_message(code, text)) return std::nullopt;
    PipeRecord r;
    if (c.read_record(r, 10s) != ControlClient::ReadResult::Record) return std::nullopt;
    return r;
}

std::string ServiceTest::status_text() {
    std::optional<PipeRecord> r = ask(PIPE_SINGLE_STATUS);
    return r && r->code == PIPE_STATUS ? r->text : std::string();
}

std::string ServiceTest::service_output() const {
    return read_whole_file(path("vardeld.out"));
}

}  // namespace vardel::test
