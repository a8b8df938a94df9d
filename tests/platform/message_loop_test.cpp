#include "platform/message_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

namespace vardel::platform {
namespace {

using namespace std::chrono_literals;

TEST(MessageLoop, OneHandlerSeesEveryMessageInOrderUntilQuit) {
    MessageLoop loop;
    std::vector<uint32_t> seen;
    loop.set_handler([&](const Message& m) {
        seen.push_back(m.msg);
        return 0;
    });
    for (uint32_t i = 1; i <= 5; ++i) loop.post(WM_USER + i);
    loop.post_quit(7);
    loop.post(WM_USER + 99);  // after the quit: never handled
    EXPECT_EQ(loop.run(), 7);
    EXPECT_EQ(seen, (std::vector<uint32_t>{WM_USER + 1, WM_USER + 2, WM_USER + 3, WM_USER + 4,
                                           WM_USER + 5}));
}

TEST(MessageLoop, SendWaitsForTheHandlerOnTheLoopThread) {
    MessageLoop loop;
    std::thread::id handler_thread;
    loop.set_handler([&](const Message& m) -> intptr_t {
        if (m.msg == WM_CLOSE) {
            loop.post_quit(0);
            return 0;
        }
        handler_thread = std::this_thread::get_id();
        // A send from the loop's own thread runs at once, nested.
        if (m.msg == WM_USER + 8) return 10 + loop.send(WM_USER + 9, 0, 0);
        return static_cast<intptr_t>(m.wparam) * 2;
    });
    std::thread client([&] {
        while (!loop.running()) std::this_thread::sleep_for(1ms);
        EXPECT_EQ(loop.send(WM_USER + 1, 21, 0), 42);
        EXPECT_EQ(loop.send(WM_USER + 8, 0, 0), 10);
        loop.post(WM_CLOSE);
    });
    loop.run();
    client.join();
    EXPECT_NE(handler_thread, client.get_id());
    // The loop has ended: a send returns 0 without waiting.
    EXPECT_EQ(loop.send(WM_USER + 1, 5, 0), 0);
}

TEST(MessageLoop, TimersRepeatUntilKilledAndReArmWhenSetAgain) {
    MessageLoop loop;
    int fired2 = 0, fired3 = 0;
    loop.set_handler([&](const Message& m) {
        if (m.msg != WM_TIMER) return 0;
        if (m.wparam == 2 && ++fired2 == 3) {
            loop.kill_timer(2);
            loop.set_timer(3, 10ms);
        }
        if (m.wparam == 3) {
            ++fired3;
            loop.kill_timer(3);
            loop.post_quit(0);
        }
        return 0;
    });
    loop.set_timer(2, 5ms);
    loop.run();
    EXPECT_EQ(fired2, 3);
    EXPECT_EQ(fired3, 1);
    EXPECT_FALSE(loop.timer_armed(2));
}

TEST(MessageLoop, AKilledTimerDoesNotFireEvenWhenAlreadyDue) {
    MessageLoop loop;
    bool fired = false;
    loop.set_handler([&](const Message& m) {
        if (m.msg == WM_TIMER && m.wparam == 2) fired = true;
        if (m.msg == WM_USER) {
            std::this_thread::sleep_for(30ms);  // timer 2 falls due meanwhile
            loop.kill_timer(2);
            loop.post_quit(0);
        }
        return 0;
    });
    loop.set_timer(2, 10ms);
    loop.post(WM_USER);
    loop.run();
    EXPECT_FALSE(fired);
}

TEST(MessageLoop, WatchedDescriptorsCallBackOnTheLoopThread) {
    MessageLoop loop;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string got;
    loop.watch_fd(fds[0], [&] {
        char c;
        if (read(fds[0], &c, 1) == 1) got.push_back(c);
        if (got == "ab") loop.post_quit(0);
    });
    std::thread writer([&] {
        EXPECT_EQ(write(fds[1], "a", 1), 1);
        std::this_thread::sleep_for(10ms);
        EXPECT_EQ(write(fds[1], "b", 1), 1);
    });
    loop.run();
    writer.join();
    EXPECT_EQ(got, "ab");
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
}  // namespace vardel::platform
