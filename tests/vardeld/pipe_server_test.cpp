#include "vardeld/pipe_server.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "common/my_error.h"
#include "common/pipe_record.h"
#include "pipeclient/control_client.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel {
namespace {

using namespace std::chrono_literals;

// A server with its accepting loop on a thread of the test.
class PipeServerTest : public test::ScratchTest {
  protected:
    void SetUp() override {
        ScratchTest::SetUp();
        sock = path("vardeld.sock");
        server = std::make_unique<PipeServer>(
            [this](uint32_t code, const std::string& text, int slot) {
                std::lock_guard l(m);
                handed.push_back(std::to_string(code) + ":" + text);
                if (code == PIPE_STOP)
                    server->send_to_slot(slot, PIPE_ALERT, "No backup in progress");
            },
            [] { return std::string("status text"); }, may_control, idle_limit);
        ASSERT_TRUE(server->open(sock));
        acceptor = std::thread([this] {
            while (!done) {
                pollfd p{server->listen_fd(), POLLIN, 0};
                if (poll(&p, 1, 20) > 0) server->accept();
            }
        });
    }
    void TearDown() override {
        done = true;
        acceptor.join();
        server->stop();
        server.reset();
        ScratchTest::TearDown();
    }
    std::unique_ptr<ControlClient> client() {
        auto c = std::make_unique<ControlClient>("broken", sock);
        EXPECT_TRUE(c->connect());
        return c;
    }
    PipeRecord next(ControlClient& c) {
        PipeRecord r;
        EXPECT_EQ(c.read_record(r, 5s), ControlClient::ReadResult::Record);
        return r;
    }

    PipeServer::MayControl may_control = PipeServer::default_may_control;
    std::chrono::milliseconds idle_limit = PipeServer::kIdleLimit;
    std::string sock;
    std::unique_ptr<PipeServer> server;
    std::thread acceptor;
    std::atomic<bool> done{false};
    std::mutex m;
    std::vector<std::string> handed;
};

TEST_F(PipeServerTest, AnswersStatusAndHandsOtherRequestsOver) {
    auto c = client();
    c->queue_message(PIPE_SINGLE_STATUS);
    PipeRecord r = next(*c);
    EXPECT_EQ(r.code, PIPE_STATUS);
    EXPECT_EQ(r.text, "status text");
    c->queue_message(PIPE_STOP);
    r = next(*c);
    EXPECT_EQ(r.code, PIPE_ALERT);
    EXPECT_EQ(r.text, "No backup in progress");
    c->queue_message(PIPE_RUN_SET, "Nightly");
    c->queue_message(9);
    ASSERT_TRUE(test::wait_until([&] {
        std::lock_guard l(m);
        return handed.size() == 3;
    }));
    EXPECT_EQ(handed[1], "8:Nightly");
    EXPECT_EQ(handed[2], "9:");
}

TEST_F(PipeServerTest, PushesReachOnlyConnectionsThatAskedForThem) {
    auto registered = client(), follower = client(), plain = client();
    registered->queue_message(PIPE_REGISTER);
    follower->queue_message(PIPE_REQUEST_ONGOING);
    ASSERT_TRUE(test::wait_until([&] {
        return server->connected_count() == 3 && (server->slot_bits(0) & PipeServer::Registered) &&
               (server->slot_bits(1) & PipeServer::RequestOngoing);
    }));
    server->push_registered(PIPE_BACKUP_STARTING, "Nightly");
    server->push_log_subscribers(PIPE_INFO, "a log line\r\n");
    EXPECT_EQ(next(*registered).text, "Nightly");
    EXPECT_EQ(next(*follower).text, "a log line\r\n");
    PipeRecord r;
    EXPECT_EQ(plain->read_record(r, 200ms), ControlClient::ReadResult::TimedOut);
}

TEST_F(PipeServerTest, ATenthClientIsClosedWhileNineAreConnected) {
    std::vector<std::unique_ptr<ControlClient>> nine;
    for (int i = 0; i < 9; ++i) nine.push_back(client());
    ASSERT_TRUE(test::wait_until([&] { return server->connected_count() == 9; }));
    auto tenth = client();
    PipeRecord r;
    EXPECT_EQ(tenth->read_record(r, 5s), ControlClient::ReadResult::Closed);
    nine[3]->close();
    ASSERT_TRUE(test::wait_until([&] { return server->connected_count() == 8; }));
    auto again = client();
    again->queue_message(PIPE_SINGLE_STATUS);
    EXPECT_EQ(next(*again).code, PIPE_STATUS);
}

TEST_F(PipeServerTest, AnOversizedRecordDisconnectsOnlyItsSender) {
    auto good = client();
    ASSERT_TRUE(test::wait_until([&] { return server->connected_count() == 1; }));
    std::string big(2000, 'x');
    int fd = platform::connect_seqpacket(sock);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(test::wait_until([&] { return server->connected_count() == 2; }));
    ASSERT_EQ(::send(fd, big.data(), big.size(), 0), static_cast<ssize_t>(big.size()));
    ASSERT_TRUE(test::wait_until([&] { return server->connected_count() == 1; }));
    ::close(fd);
    good->queue_message(PIPE_SINGLE_STATUS);
    EXPECT_EQ(next(*good).code, PIPE_STATUS);
}

TEST_F(PipeServerTest, AClientThatNeverReadsCannotStallPushes) {
    auto lazy = client(), reader = client();
    lazy->queue_message(PIPE_REQUEST_ONGOING);
    reader->queue_message(PIPE_REQUEST_ONGOING);
    ASSERT_TRUE(test::wait_until([&] {
        return (server->slot_bits(0) & PipeServer::RequestOngoing) &&
               (server->slot_bits(1) & PipeServer::RequestOngoing);
    }));
    std::atomic<int> got{0};
    reader->start_reader([&](const PipeRecord& r) {
        if (r.code == PIPE_INFO) ++got;
    });
    // Far more than a socket buffer holds; every push returns at once.
    std::string line(500, 'l');
    for (int i = 0; i < 20000; ++i) server->push_log_subscribers(PIPE_INFO, line);
    ASSERT_TRUE(test::wait_until([&] { return got.load() > 0; }));
    reader->close();
}

TEST_F(PipeServerTest, AClientThatStaysUnreadableIsLetGoAndOthersStay) {
    auto lazy = client(), reader = client();
    lazy->queue_message(PIPE_REQUEST_ONGOING);
    reader->queue_message(PIPE_REQUEST_ONGOING);
    ASSERT_TRUE(test::wait_until([&] {
        return (server->slot_bits(0) & PipeServer::RequestOngoing) &&
               (server->slot_bits(1) & PipeServer::RequestOngoing);
    }));
    reader->start_reader([](const PipeRecord&) {});
    // A service that logs on and on: the lazy client's buffer fills, its
    // records are dropped, and once it has taken nothing for the stall
    // limit it is disconnected. The reading client is not.
    std::string line(200, 'l');
    bool let_go = test::wait_until(
        [&] {
            for (int i = 0; i < 50; ++i) server->push_log_subscribers(PIPE_INFO, line);
            return !(server->slot_bits(0) & PipeServer::InUse);
        },
        PipeServer::kStallLimit * 4);
    EXPECT_TRUE(let_go);
    EXPECT_TRUE(server->slot_bits(1) & PipeServer::InUse);
    PipeRecord r;
    // The lazy client finds its connection ended behind what it was sent.
    ControlClient::ReadResult got;
    do got = lazy->read_record(r, 5s);
    while (got == ControlClient::ReadResult::Record);
    EXPECT_EQ(got, ControlClient::ReadResult::Closed);
    reader->close();
}

// An account that may not control the service still reads; what it asks
// to change is answered "Permission denied" and never reaches the service.
class PipeServerForOthers : public PipeServerTest {
  protected:
    void SetUp() override {
        may_control = [](unsigned, unsigned) { return false; };
        idle_limit = 300ms;
        PipeServerTest::SetUp();
    }
};

TEST_F(PipeServerForOthers, StateChangesAreRefusedAndReadingIsNot) {
    auto c = client();
    for (uint32_t code : {PIPE_STOP, PIPE_RUN_SET, PIPE_SHUT_DOWN, PIPE_DISABLE, PIPE_PAUSE}) {
        c->queue_message(code, "Nightly");
        PipeRecord r = next(*c);
        EXPECT_EQ(r.code, PIPE_ALERT) << code;
        EXPECT_EQ(r.text, kPermissionDeniedText) << code;
    }
    c->queue_message(PIPE_REGISTER);
    c->queue_message(PIPE_SINGLE_STATUS);
    EXPECT_EQ(next(*c).text, "status text");
    // A program that sends and goes (vardelgo) hears it too.
    try {
        ControlClient::send_once(PIPE_RUN_SET, "Nightly", sock);
        ADD_FAILURE() << "the refusal went unheard";
    } catch (const MyError& e) {
        EXPECT_STREQ(e.message(), kPermissionDeniedText);
    }
    std::lock_guard l(m);
    EXPECT_TRUE(handed.empty());
}

TEST_F(PipeServerForOthers, NineIdleClientsMakeRoomForATenth) {
    std::vector<std::unique_ptr<ControlClient>> nine;
    for (int i = 0; i < 9; ++i) nine.push_back(client());
    nine[0]->queue_message(PIPE_REGISTER);
    ASSERT_TRUE(test::wait_until([&] {
        return server->connected_count() == 9 && (server->slot_bits(0) & PipeServer::Registered);
    }));
    // Closed at once while the nine are fresh; answered once they are idle.
    bool answered = test::wait_until([&] {
        auto tenth = client();
        tenth->queue_message(PIPE_SINGLE_STATUS);
        PipeRecord r;
        return tenth->read_record(r, 5s) == ControlClient::ReadResult::Record;
    });
    EXPECT_TRUE(answered);
    // One that waits for notices is let go only after those that asked for nothing.
    EXPECT_TRUE(server->slot_bits(0) & PipeServer::Registered);
}

TEST(PipeRecordCodec, RecordsCarryCodeAndTextWithinTheLimit) {
    std::string bytes = PipeRecord{PIPE_RUN_SET, "Nightly"}.encode();
    EXPECT_EQ(bytes, (std::string("\x08\0\0\0Nightly\0", 12)));
    auto back = PipeRecord::decode(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->code, 8u);
    EXPECT_EQ(back->text, "Nightly");
    EXPECT_EQ((PipeRecord{1, std::string(5000, 'x')}.encode().size()), 1024u);
    EXPECT_FALSE(PipeRecord::decode("abc"));
    EXPECT_EQ(PipeRecord::decode(std::string("\x11\0\0\0no zero", 11))->text, "no zero");
}

}  // namespace
}  // namespace vardel
