// The control socket end to end: a real `vardeld -i` on a scratch store,
// real clients on its socket.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>

#include "common/pipe_record.h"
#include "platform/local_socket.h"
#include "tests/support/running_service.h"

namespace vardel {
namespace {

using namespace std::chrono_literals;
using test::CollectingClient;

bool is_line(const PipeRecord& r, const std::string& text) {
    return (r.code == PIPE_INFO || r.code == PIPE_ALERT) && r.text == text;
}

std::function<bool(const PipeRecord&)> line(const std::string& text) {
    return [text](const PipeRecord& r) { return is_line(r, text); };
}

std::function<bool(const PipeRecord&)> starts_with(const std::string& prefix) {
    return [prefix](const PipeRecord& r) { return r.text.rfind(prefix, 0) == 0; };
}

class ControlSocket : public test::ServiceTest {
  protected:
    void SetUp() override {
        ServiceTest::SetUp();
        add_set("Nightly Set");
        ASSERT_TRUE(start_service()) << service_output();
    }
};

TEST_F(ControlSocket, StatusWithNothingScheduledNamesNoSetAndNoNextRun) {
    std::string text = status_text();
    std::vector<std::string> lines = test::status_lines(text);
    ASSERT_EQ(lines.size(), 10u) << text;
    EXPECT_EQ(lines[0], "1");
    EXPECT_EQ(lines[1], "Vardel Pellin");
    EXPECT_EQ(lines[2], "1.1");
    EXPECT_FALSE(lines[3].empty());  // the computer's name
    EXPECT_EQ(lines[6], "1");        // enabled
    EXPECT_EQ(lines[7], "0");        // nothing running
    EXPECT_EQ(lines[8], "<none>");
    EXPECT_EQ(lines[9], "No backups scheduled");
}

TEST_F(ControlSocket, APauseWithNothingRunningHoldsTheNextRunUntilResumed) {
    CollectingClient follower(CollectingClient::Asks::Both);
    ASSERT_TRUE(follower.connected());

    std::optional<PipeRecord> answer = ask(PIPE_PAUSE);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->code, PIPE_ALERT);
    EXPECT_EQ(answer->text, "Next backup will pause");

    // A name in other letter case starts the set.
    ControlClient::send_once(PIPE_RUN_SET, "nIGHTLY sET");
    ASSERT_TRUE(follower.wait_for(PIPE_BACKUP_STARTING, "Nightly Set"));
    ASSERT_TRUE(follower.wait_for(line("Backup paused\r\n")));

    std::string text = status_text();
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    std::vector<std::string> lines = test::status_lines(text);
    ASSERT_EQ(lines.size(), 10u) << text;
    EXPECT_EQ(lines[7], "1");
    EXPECT_EQ(lines[8], "Nightly Set");
    EXPECT_EQ(lines[9], "");

    answer = ask(PIPE_RESUME);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->code, PIPE_INFO);
    EXPECT_EQ(answer->text, "Resuming backup Nightly Set");
    std::optional<size_t> done = follower.wait_for(PIPE_BACKUP_COMPLETED, "Nightly Set");
    ASSERT_TRUE(done);

    // The run did nothing before the resume.
    std::optional<size_t> resumed = follower.wait_for(line("Resuming backup...\r\n"), 0, 0s);
    std::optional<size_t> began =
        follower.wait_for(line("Start backup set 'Nightly Set'\r\n"), 0, 0s);
    ASSERT_TRUE(resumed && began);
    EXPECT_LT(*resumed, *began);
    EXPECT_EQ(test::status_lines(status_text())[7], "0");
}

TEST_F(ControlSocket, StopAnswersWhetherOrNotABackupRuns) {
    std::string before = status_text();
    std::optional<PipeRecord> answer = ask(PIPE_STOP);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->code, PIPE_ALERT);
    EXPECT_EQ(answer->text, "No backup in progress");
    EXPECT_EQ(status_text(), before);

    // A paused run can be stopped: it ends as aborted.
    CollectingClient follower(CollectingClient::Asks::Register);
    ASSERT_TRUE(follower.connected());
    ask(PIPE_PAUSE);
    ControlClient::send_once(PIPE_RUN_SET, "Nightly Set");
    ASSERT_TRUE(follower.wait_for(PIPE_BACKUP_STARTING, "Nightly Set"));
    answer = ask(PIPE_STOP);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->text, "Aborting backup Nightly Set");
    EXPECT_TRUE(follower.wait_for(PIPE_BACKUP_ABORTED, "Nightly Set"));
    EXPECT_FALSE(follower.wait_for(PIPE_BACKUP_COMPLETED, "Nightly Set", 0, 0s));
}

TEST_F(ControlSocket, UnknownCodesOnlyLogUnknownMessage) {
    CollectingClient follower(CollectingClient::Asks::Subscribe);
    ASSERT_TRUE(follower.connected());
    std::string before = status_text();
    size_t from = follower.size();
    follower.send(9, "nine");
    follower.send(40);
    follower.send(PIPE_SINGLE_STATUS);
    std::optional<size_t> end =
        follower.wait_for([](const PipeRecord& r) { return r.code == PIPE_STATUS; }, from);
    ASSERT_TRUE(end);
    // Log lines reach a subscriber in the order they were logged; earlier
    // lines (the status asked for above) may still have been on their way
    // when `from` was taken.
    std::optional<size_t> begin =
        follower.wait_for(PIPE_INFO, "got wum_message 9:nine\r\n", from, 0s);
    ASSERT_TRUE(begin);
    std::vector<std::string> seen;
    std::vector<PipeRecord> all = follower.records();
    for (size_t i = *begin; i < *end; ++i) {
        if (all[i].text.rfind("Disconnect(", 0) == 0) continue;  // other clients leaving
        seen.push_back(std::to_string(all[i].code) + ":" + all[i].text);
    }
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 4),
              (std::vector<std::string>{"17:got wum_message 9:nine\r\n", "18:Unknown message\r\n",
                                        "17:got wum_message 40:\r\n", "18:Unknown message\r\n"}));
    EXPECT_EQ(seen[4].rfind("17:Single status: slot ", 0), 0u) << seen[4];
    EXPECT_EQ(all[*end].text, before);
}

TEST_F(ControlSocket, ATenthClientIsClosedWhileNineAreConnected) {
    std::vector<std::unique_ptr<CollectingClient>> nine;
    for (int i = 0; i < 9; ++i) {
        nine.push_back(std::make_unique<CollectingClient>(CollectingClient::Asks::Nothing));
        ASSERT_TRUE(nine.back()->connected()) << "client " << i;
    }
    ControlClient tenth("broken");
    ASSERT_TRUE(tenth.connect());  // accepted, then closed at once
    PipeRecord r;
    EXPECT_EQ(tenth.read_record(r, 10s), ControlClient::ReadResult::Closed);
    for (auto& c : nine) EXPECT_FALSE(c->broken());

    // A freed slot takes the next client.
    nine.pop_back();
    EXPECT_TRUE(test::wait_until([&] { return !status_text().empty(); }));
}

TEST_F(ControlSocket, NoticesAndLogLinesReachOnlyTheClientsThatAskedForThem) {
    CollectingClient both(CollectingClient::Asks::Both);
    CollectingClient registered(CollectingClient::Asks::Register);
    CollectingClient subscribed(CollectingClient::Asks::Subscribe);
    CollectingClient plain(CollectingClient::Asks::Nothing);
    ASSERT_TRUE(both.connected() && registered.connected() && subscribed.connected() &&
                plain.connected());

    ControlClient::send_once(PIPE_RUN_SET, "Nightly Set");
    ASSERT_TRUE(both.wait_for(PIPE_BACKUP_COMPLETED, "Nightly Set"));
    EXPECT_TRUE(both.wait_for(PIPE_BACKUP_STARTING, "Nightly Set", 0, 0s));
    EXPECT_TRUE(both.wait_for(line("Start backup set 'Nightly Set'\r\n"), 0, 0s));
    EXPECT_TRUE(subscribed.wait_for(starts_with("Backup Nightly Set completed")));
    // Pushes go to the slots one after another.
    EXPECT_TRUE(registered.wait_for(PIPE_BACKUP_COMPLETED, "Nightly Set"));

    // Pushes go out in order, so everything meant for a client is there
    // before the answer to a status request it sends now.
    for (CollectingClient* c : {&registered, &subscribed, &plain}) {
        size_t from = c->size();
        c->send(PIPE_SINGLE_STATUS);
        ASSERT_TRUE(c->wait_for([](const PipeRecord& r) { return r.code == PIPE_STATUS; }, from));
    }
    auto codes = [](const CollectingClient& c) {
        std::vector<uint32_t> v;
        for (const PipeRecord& r : c.records()) v.push_back(r.code);
        return v;
    };
    EXPECT_EQ(codes(registered), (std::vector<uint32_t>{PIPE_STATUS, PIPE_BACKUP_STARTING,
                                                        PIPE_BACKUP_COMPLETED, PIPE_STATUS}));
    EXPECT_EQ(codes(plain), (std::vector<uint32_t>{PIPE_STATUS, PIPE_STATUS}));
    for (const PipeRecord& r : subscribed.records())
        EXPECT_TRUE(r.code == PIPE_STATUS || r.code == PIPE_INFO || r.code == PIPE_ALERT) << r.code;
}

TEST_F(ControlSocket, AnOversizedRecordDisconnectsOnlyItsSender) {
    CollectingClient follower(CollectingClient::Asks::Both);
    ASSERT_TRUE(follower.connected());
    int fd = platform::connect_seqpacket(platform::control_socket_path());
    ASSERT_GE(fd, 0);
    std::string big(2000, 'x');
    big[0] = PIPE_RUN_SET;
    ASSERT_EQ(::send(fd, big.data(), big.size(), MSG_NOSIGNAL), static_cast<ssize_t>(big.size()));
    std::string got;
    EXPECT_EQ(platform::recv_record(fd, got, PipeRecord::kMaxRecord, 10s),
              platform::RecvResult::Closed);
    ::close(fd);
    EXPECT_TRUE(follower.wait_for([](const PipeRecord& r) {
        return r.text.rfind("Disconnect(2,", 0) == 0 &&
               r.text.find("due to readfile -- 90: Message too long") != std::string::npos;
    }));
    EXPECT_FALSE(follower.wait_for(starts_with("got wum_message"), 0, 0s));
    // A client that just leaves is logged the same way.
    size_t before_leaving = follower.size();
    ask(PIPE_SINGLE_STATUS);
    EXPECT_TRUE(follower.wait_for(
        [](const PipeRecord& r) {
            return r.text.rfind("Disconnect(2,", 0) == 0 &&
                   r.text.find("due to readfile -- 32: Broken pipe") != std::string::npos;
        },
        before_leaving));
    EXPECT_FALSE(follower.broken());
    size_t from = follower.size();
    follower.send(PIPE_SINGLE_STATUS);
    EXPECT_TRUE(follower.wait_for([](const PipeRecord& r) { return r.code == PIPE_STATUS; }, from));
}

TEST_F(ControlSocket, ASubscriberThatNeverReadsHoldsUpNeitherTheBackupNorOthers) {
    ASSERT_EQ(shut_down(), 0);
    add_set("Many", 3000);  // a log line for every file: far more than a socket buffer holds
    ASSERT_TRUE(start_service()) << service_output();

    ControlClient lazy("broken");  // subscribes, then never reads
    ASSERT_TRUE(lazy.connect());
    lazy.queue_message(PIPE_REGISTER);
    lazy.queue_message(PIPE_REQUEST_ONGOING);
    CollectingClient reader(CollectingClient::Asks::Both);
    ASSERT_TRUE(reader.connected());

    ControlClient::send_once(PIPE_RUN_SET, "Many");
    ASSERT_TRUE(reader.wait_for(PIPE_BACKUP_COMPLETED, "Many", 0, 60s));
    size_t saves = 0;
    for (const PipeRecord& r : reader.records()) saves += r.text.rfind("Save ", 0) == 0;
    EXPECT_GT(saves, 300u);  // well past the point where the lazy client's buffer was full
    std::vector<std::string> lines = test::status_lines(status_text());
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[7], "0");
}

TEST_F(ControlSocket, RandomBytesFromAHostileClientLeaveTheServiceAnswering) {
    CollectingClient follower(CollectingClient::Asks::Register);
    ASSERT_TRUE(follower.connected());
    std::mt19937 rng(20240611);
    const std::string sock = platform::control_socket_path();
    auto deadline = std::chrono::steady_clock::now() + 2s;
    int sent = 0;
    for (int round = 0; round < 20000 && std::chrono::steady_clock::now() < deadline; ++round) {
        int fd = platform::connect_seqpacket(sock);
        ASSERT_GE(fd, 0);
        for (int i = 0; i < 20; ++i) {
            std::string bytes(rng() % 1200, '\0');
            for (char& c : bytes) c = static_cast<char>(rng());
            // Whatever it sends, it must not be a request the service would
            // rightly obey (shut down, disable, run, pause, stop).
            if (bytes.size() >= 4 && static_cast<unsigned char>(bytes[1]) == 0 &&
                static_cast<unsigned char>(bytes[2]) == 0 &&
                static_cast<unsigned char>(bytes[3]) == 0)
                bytes[3] = 1;
            if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) break;
            ++sent;
        }
        ::close(fd);
    }
    EXPECT_GT(sent, 0);
    // Slots of the hostile connections free themselves as their readers see
    // the ends.
    std::string text;
    ASSERT_TRUE(test::wait_until([&] { return !(text = status_text()).empty(); }));
    std::vector<std::string> lines = test::status_lines(text);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[6], "1");
    EXPECT_EQ(lines[9], "No backups scheduled");
    EXPECT_FALSE(follower.broken());
    EXPECT_EQ(follower.size(), 1u);  // its own status answer, nothing else
}

}  // namespace
}  // namespace vardel
