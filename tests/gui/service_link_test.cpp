// The service link and the log pane, against a real socket.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QScrollBar>

#include "gui/log_pane.h"
#include "gui/service_link.h"
#include "platform/local_socket.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel::gui {
namespace {

using namespace std::chrono_literals;

// A listening socket in the test's folder that stands for the service.
class ServiceLinkTest : public test::ScratchTest {
  protected:
    void SetUp() override {
        ScratchTest::SetUp();
        socket_ = path("s.sock");
        ASSERT_EQ(listener_.listen(socket_), platform::SeqPacketListener::Result::Listening);
    }
    void TearDown() override {
        if (peer_ >= 0) ::close(peer_);
        ScratchTest::TearDown();
    }
    void accept_peer() {
        ASSERT_TRUE(test::wait_until([&] { return (peer_ = listener_.accept()) >= 0; }));
    }
    // Runs the event loop until `cond` holds.
    bool pump_until(const std::function<bool()>& cond) {
        return test::wait_until([&] {
            QCoreApplication::processEvents();
            return cond();
        });
    }
    void send(uint32_t code, const std::string& text) {
        ASSERT_TRUE(platform::send_record(peer_, PipeRecord{code, text}.encode(), 1000ms));
    }

    std::string socket_;
    platform::SeqPacketListener listener_;
    int peer_ = -1;
};

TEST_F(ServiceLinkTest, RequestsLeaveInTurnAndRecordsComeInOrderThenTheBrokenOne) {
    ServiceLink link("Connection to service severed", socket_);
    std::vector<PipeRecord> got;
    int broken = 0;
    QObject::connect(&link, &ServiceLink::received, [&](const PipeRecord& r) { got.push_back(r); });
    QObject::connect(&link, &ServiceLink::broken, [&] { ++broken; });
    ASSERT_TRUE(link.open());
    accept_peer();

    link.send_in_turn(ServiceLink::watch_handshake());
    std::vector<uint32_t> asked;
    ASSERT_TRUE(pump_until([&] {
        std::string buf;
        if (platform::recv_record(peer_, buf, 1024, 0ms) == platform::RecvResult::Record)
            asked.push_back(PipeRecord::decode(buf)->code);
        return asked.size() == 3;
    }));
    EXPECT_EQ(asked,
              (std::vector<uint32_t>{PIPE_SINGLE_STATUS, PIPE_REGISTER, PIPE_REQUEST_ONGOING}));

    for (int i = 0; i < 50; ++i) send(PIPE_INFO, "line " + std::to_string(i) + "\r\n");
    ::close(peer_);
    peer_ = -1;
    ASSERT_TRUE(pump_until([&] { return broken == 1; }));
    ASSERT_EQ(got.size(), 51u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(got[i].text, "line " + std::to_string(i) + "\r\n");
    EXPECT_EQ(got.back().code, uint32_t(PIPE_ALERT));
    EXPECT_EQ(got.back().text, "Connection to service severed");
    EXPECT_FALSE(link.is_open());
    EXPECT_FALSE(link.send(PIPE_SINGLE_STATUS));
}

// A window that closes the link while records are still waiting gets none
// of them and no broken-connection record; nor does a link with no service.
TEST_F(ServiceLinkTest, AClosedLinkHandsOutNothingMore) {
    ServiceLink link("severed", socket_);
    int got = 0;
    QObject::connect(&link, &ServiceLink::received, [&](const PipeRecord&) {
        ++got;
        link.close();
    });
    ASSERT_TRUE(link.open());
    accept_peer();
    send(PIPE_INFO, "one");
    send(PIPE_INFO, "two");
    ::close(peer_);
    peer_ = -1;
    ASSERT_TRUE(pump_until([&] { return got > 0; }));
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(got, 1);

    ServiceLink none("severed", path("nothing.sock"));
    EXPECT_FALSE(none.open());
    EXPECT_FALSE(none.send(PIPE_SINGLE_STATUS));
}

TEST(LogPane, KeepsTheLastLinesAndFollowsUnlessScrolledUp) {
    LogPane pane;
    pane.resize(400, 200);
    pane.show();
    for (int i = 0; i < LogPane::kMaxLines + 500; ++i)
        pane.append_text("DEBUG     line " + std::to_string(i) + "\r\n");
    QCoreApplication::processEvents();
    QStringList lines = pane.toPlainText().split('\n');
    EXPECT_LE(lines.size(), LogPane::kMaxLines + 1);
    EXPECT_EQ(lines[lines.size() - 2], QString("DEBUG     line %1").arg(LogPane::kMaxLines + 499));
    EXPECT_FALSE(pane.toPlainText().contains('\r'));
    QScrollBar* bar = pane.verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());

    bar->setValue(bar->maximum() / 2);
    int reading = bar->value();
    pane.append_text(std::string("backup Nightly starting\n"));
    EXPECT_EQ(bar->value(), reading);
    bar->setValue(bar->maximum());
    pane.append_text(std::string("backup Nightly complete\n"));
    EXPECT_EQ(bar->value(), bar->maximum());
}

}  // namespace
}  // namespace vardel::gui
