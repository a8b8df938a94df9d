#include "platform/named_event.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel::platform {
namespace {

using namespace std::chrono_literals;

class NamedEventTest : public test::ScratchTest {};

TEST_F(NamedEventTest, SetStaysSetUntilResetAndWaitTimesOutWhenClear) {
    NamedEvent ev("Brindlecore_Vardel_vardeld");
    EXPECT_FALSE(ev.is_set());
    EXPECT_EQ(ev.wait(20ms), NamedEvent::WaitResult::TimedOut);
    ev.set();
    EXPECT_TRUE(ev.is_set());
    EXPECT_EQ(ev.wait(0ms), NamedEvent::WaitResult::Signalled);
    EXPECT_EQ(ev.wait(0ms), NamedEvent::WaitResult::Signalled);  // manual reset
    ev.reset();
    EXPECT_FALSE(ev.is_set());
    EXPECT_EQ(ev.wait(20ms), NamedEvent::WaitResult::TimedOut);

    // A second object of the name sees the same event.
    NamedEvent other("Brindlecore_Vardel_vardeld");
    ev.set();
    EXPECT_TRUE(other.is_set());
}

TEST_F(NamedEventTest, APulseFromAnotherProcessWakesAWaiter) {
    NamedEvent ev("reload");
    test::BackgroundProcess pulser([] {
        std::this_thread::sleep_for(150ms);
        NamedEvent mine("reload");
        mine.pulse();
        return 0;
    });
    EXPECT_EQ(ev.wait(30000ms), NamedEvent::WaitResult::Signalled);
    EXPECT_FALSE(ev.is_set());  // a pulse leaves it clear
    EXPECT_EQ(pulser.wait(), 0);
}

TEST_F(NamedEventTest, ASetResetAtOnceStillWakesEveryWaiterInEveryProcess) {
    // Two waiting processes and this one; the setter holds the event for no time at all.
    NamedEvent here("Brindlecore_Vardel_vardelnotify");
    auto waiter = [] {
        NamedEvent ev("Brindlecore_Vardel_vardelnotify");
        return ev.wait(30000ms) == NamedEvent::WaitResult::Signalled ? 0 : 1;
    };
    test::BackgroundProcess a(waiter), b(waiter);
    std::this_thread::sleep_for(200ms);  // let them reach their wait
    NamedEvent setter("Brindlecore_Vardel_vardelnotify");
    setter.set();
    setter.reset();
    EXPECT_EQ(a.wait(), 0);
    EXPECT_EQ(b.wait(), 0);
    EXPECT_EQ(here.wait(0ms), NamedEvent::WaitResult::Signalled);
    // Seen once: the next wait blocks again.
    EXPECT_EQ(here.wait(20ms), NamedEvent::WaitResult::TimedOut);
}

TEST_F(NamedEventTest, TheDescriptorPollsReadableOncePerSignal) {
    NamedEvent ev("loop");
    NamedEvent editor("loop");
    pollfd p{ev.fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);

    editor.pulse();
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_TRUE(ev.consume());
    EXPECT_EQ(::poll(&p, 1, 0), 0);

    // Held set: one signal, not a readable descriptor for ever.
    editor.set();
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_TRUE(ev.consume());
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    EXPECT_TRUE(ev.is_set());

    // A reset may stir the descriptor, but it is no signal.
    editor.reset();
    EXPECT_FALSE(ev.consume());
}

TEST_F(NamedEventTest, AWaiterThatCannotCreateTheFileWakesWhenItsOwnerMakesIt) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a child as another user";
    { NamedEvent maker("make the folder"); }  // the events folder exists, owned by root
    ::chmod(scratch().c_str(), 0755);
    ::chmod(path("root").c_str(), 0755);
    ::chmod(path("root/run").c_str(), 0755);
    test::BackgroundProcess user([] {
        if (setgid(65534) != 0 || setuid(65534) != 0) return 10;
        try {
            NamedEvent ev("Brindlecore_Vardel_vardeld");
            return ev.wait(30000ms) == NamedEvent::WaitResult::Signalled ? 0 : 1;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 2;
        }
    });
    std::this_thread::sleep_for(200ms);
    NamedEvent owner("Brindlecore_Vardel_vardeld");
    owner.pulse();
    EXPECT_EQ(user.wait(), 0);
}

TEST_F(NamedEventTest, NamesBecomeSafeFileNames) {
    NamedEvent ev("../../etc/passwd x\xc3\xa9");
    EXPECT_EQ(ev.file_path(), path("root/run/events/%2E%2E%2F%2E%2E%2Fetc%2Fpasswd%20x%C3%A9"));
    ev.set();
    EXPECT_TRUE(NamedEvent("../../etc/passwd x\xc3\xa9").is_set());
    EXPECT_FALSE(NamedEvent("..%2F..%2Fetc%2Fpasswd x\xc3\xa9").is_set());
}

}  // namespace
}  // namespace vardel::platform
