#include "tests/e2e/suite.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/file_info.h"
#include "tests/support/running_service.h"

namespace vardel::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

Tree snapshot(const std::string& root) {
    Tree t;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file() || e.is_symlink()) continue;
        platform::FileInfo fi;
        platform::stat_path(e.path().string(), fi);
        t[fs::relative(e.path(), root).string()] = {read_whole_file(e.path().string()),
                                                    fi.mtime_sec, fi.mode & 07777};
    }
    return t;
}

std::string tree_difference(const Tree& want, const Tree& got, bool modes) {
    std::ostringstream d;
    for (auto& [name, item] : want) {
        auto it = got.find(name);
        if (it == got.end()) {
            d << "missing: " << name << "\n";
            continue;
        }
        if (it->second.bytes != item.bytes) d << "other bytes: " << name << "\n";
        if (it->second.mtime != item.mtime)
            d << "other time: " << name << " " << it->second.mtime << " not " << item.mtime << "\n";
        if (modes && it->second.mode != item.mode)
            d << "other mode: " << name << std::oct << " " << it->second.mode << " not "
              << item.mode << std::dec << "\n";
    }
    for (auto& [name, item] : got)
        if (!want.count(name)) d << "not wanted: " << name << "\n";
    return d.str();
}

std::vector<std::string> lines(const std::string& out) {
    std::vector<std::string> v;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

long rss_kib(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

void SuiteTest::SetUp() {
    ScratchTest::SetUp();
    install_ = std::make_unique<ScratchInstall>(scratch());
    ChildResult r = install_->setup();
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
}

void SuiteTest::TearDown() {
    if (service_running()) {
        EXPECT_EQ(shut_down(), 0) << "the service did not end cleanly";
    }
    if (HasFailure()) std::fprintf(stderr, "service output:\n%s\n", service_output().c_str());
    service_.reset();
    ScratchTest::TearDown();
}

ChildResult SuiteTest::run(const std::string& name, const std::vector<std::string>& args,
                           const std::string& input, std::chrono::milliseconds timeout) {
    std::vector<std::string> argv{program(name)};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, install_->environment(), input, timeout);
}

std::unique_ptr<BackgroundProcess> SuiteTest::start(const std::string& name,
                                                    const std::vector<std::string>& args,
                                                    const std::string& out,
                                                    const std::vector<std::string>& launcher) {
    std::vector<std::string> argv = launcher;
    argv.push_back(program(name));
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<BackgroundProcess>(argv, install_->environment(), out);
}

bool SuiteTest::start_service(const std::vector<std::string>& launcher) {
    service_ = start("vardeld", {"-i"}, path("vardeld.out"), launcher);
    return wait_for_control_socket(*service_);
}

int SuiteTest::shut_down() {
    run("vardelctl", {"shutdown"});
    return service_->wait(20s);
}

void SuiteTest::kill_service() {
    service_->signal(SIGKILL);
    service_->wait(10s);
}

std::string SuiteTest::log_text() const {
    std::string all;
    for (int i = 0; i < 10; ++i) {
        std::string p = install_->data() + "logs/LOG_" + std::to_string(i) + ".txt";
        if (fs::exists(p)) all += read_whole_file(p);
    }
    return all;
}

void SuiteTest::import_sets(const std::string& text) {
    std::string file = write_file("sets.bst", text);
    ChildResult r = run("vardelcfg", {"--import-sets", file});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
}

ChildResult SuiteTest::list(const std::vector<std::string>& args) {
    std::vector<std::string> all{"--list"};
    all.insert(all.end(), args.begin(), args.end());
    return run("vardelrestore", all);
}

}  // namespace vardel::test
