#include "tests/support/service_fixture.h"

#include <filesystem>

#include "common/pipe_record.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "platform/local_socket.h"
#include "pipeclient/control_client.h"

namespace vardel::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void ServiceTest::SetUp() {
    ScratchTest::SetUp();
    fs::create_directories(path("src"));
    settings.LogFilePath = path("logs");
}

void ServiceTest::TearDown() {
    if (service && service->running()) {
        service->signal(SIGKILL);
        service->wait();
    }
    ScratchTest::TearDown();
}

BackupSet& ServiceTest::add_set(const std::string& name, Destination d) {
    auto s = std::make_unique<BackupSet>();
    s->Name = name;
    s->BackupDestination = d == Destination::Shared ? path("dest") : path("dest/" + name);
    s->BackupDirs = path("src");
    s->BackuDestinationType = DESTINATION_DIRECTORY;
    s->IntervalType = INTERVAL_ON_DEMAND;
    return settings.backup_sets().add(std::move(s));
}

void ServiceTest::save_settings() {
    auto key = registry::create_key(registry::Root::LocalMachine, kProductKey);
    ASSERT_TRUE(key);
    registry::write_text(*key, kInstallDirValue, install_dir);
    registry::write_number(*key, kServerPortValue, server_port);
    settings.save();
}

std::string ServiceTest::socket_path() const { return scratch() + "/root/run/vardeld.sock"; }

void ServiceTest::start_service(const std::vector<std::string>& args,
                                const std::vector<std::string>& env) {
    std::vector<std::string> argv{program_path("vardeld")};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> e{"VARDEL_ROOT=" + scratch() + "/root"};
    e.insert(e.end(), env.begin(), env.end());
    service = std::make_unique<BackgroundProcess>(argv, e, path("vardeld.out"));
}

bool ServiceTest::wait_for_socket() {
    return wait_until([&] {
        int fd = platform::connect_seqpacket(socket_path());
        if (fd < 0) return false;
        ::close(fd);
        return true;
    }, 20s);
}

int ServiceTest::shut_down() {
    ControlClient::send_once(PIPE_SHUT_DOWN, "", socket_path());
    return service->wait(30s);
}

std::string ServiceTest::log_text() const {
    std::string all;
    for (int i = 0; i < 10; ++i) {
        std::string p = scratch() + "/logs/LOG_" + std::to_string(i) + ".txt";
        if (fs::exists(p)) all += read_whole_file(p);
    }
    return all;
}

std::string ServiceTest::output() const { return read_whole_file(scratch() + "/vardeld.out"); }

ChildResult ServiceTest::run_vardeld(const std::vector<std::string>& args,
                                     const std::vector<std::string>& env) {
    std::vector<std::string> argv{program_path("vardeld")};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> e{"VARDEL_ROOT=" + scratch() + "/root"};
    e.insert(e.end(), env.begin(), env.end());
    return run_program(argv, e, {}, 60s);
}

}  // namespace vardel::test
