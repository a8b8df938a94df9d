#include "pipeclient/control_client.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

#include "platform/local_socket.h"
#include "tests/support/scratch.h"

namespace vardel {
namespace {

// A listening socket standing in for the service: these tests are about the
// client's own threads, not what the service says.
class ControlClientTest : public test::ScratchTest {
  protected:
    void SetUp() override {
        test::ScratchTest::SetUp();
        ASSERT_EQ(listener_.listen(path("s.sock")), platform::SeqPacketListener::Result::Listening);
    }
    // The service's end of the connection the client just opened.
    int accept_client() {
        pollfd p{listener_.fd(), POLLIN, 0};
        if (::poll(&p, 1, 10000) != 1) return -1;
        return listener_.accept();
    }
    static void send(int fd, uint32_t code, const std::string& text) {
        ASSERT_TRUE(platform::send_record(fd, PipeRecord{code, text}.encode()));
    }

    platform::SeqPacketListener listener_;
};

TEST_F(ControlClientTest, ClosingWhileACallbackWaitsForTheClosingThreadNeverDeadlocks) {
    // The callback hands its record to the thread that is closing, as a
    // window's blocking queued call does: it cannot return before close().
    for (int round = 0; round < 200; ++round) {
        ControlClient client("broken", path("s.sock"));
        ASSERT_TRUE(client.connect());
        int service = accept_client();
        ASSERT_GE(service, 0);

        std::mutex m;
        std::condition_variable cv;
        bool in_callback = false, closed = false, done = false;
        client.start_reader([&](const PipeRecord&) {
            std::unique_lock lock(m);
            in_callback = true;
            cv.notify_all();
            // Bounded, so a deadlock fails the test instead of hanging it.
            cv.wait_for(lock, std::chrono::seconds(10), [&] { return closed; });
            done = true;
            cv.notify_all();
        });
        send(service, PIPE_INFO, "in flight");
        {
            std::unique_lock lock(m);
            ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return in_callback; }));
        }
        client.close();
        std::unique_lock lock(m);
        ASSERT_FALSE(done) << "close() waited for the callback, round " << round;
        closed = true;
        cv.notify_all();
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return done; }));
        ::close(service);
    }
}

TEST_F(ControlClientTest, WithoutAThreadEveryWaitingRecordThenOneBrokenRecordAreHandedOver) {
    ControlClient client("broken", path("s.sock"));
    ASSERT_TRUE(client.connect());
    int service = accept_client();
    ASSERT_GE(service, 0);
    EXPECT_TRUE(client.read_available().empty());

    send(service, PIPE_INFO, "one");
    ASSERT_TRUE(platform::send_record(service, "xy"));  // too short: dropped
    send(service, PIPE_ALERT, "two");
    ::close(service);
    pollfd p{client.descriptor(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);

    std::vector<PipeRecord> got = client.read_available();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].text, "one");
    EXPECT_EQ(got[1].text, "two");
    EXPECT_EQ(got[2].code, PIPE_ALERT);
    EXPECT_EQ(got[2].text, "broken");
    EXPECT_FALSE(client.connected());
    EXPECT_GE(client.descriptor(), 0);  // until close(): no number reused under a watcher
    EXPECT_TRUE(client.read_available().empty());
    EXPECT_FALSE(client.queue_message(PIPE_STATUS));
    client.close();
    EXPECT_EQ(client.descriptor(), -1);
}

}  // namespace
}  // namespace vardel
