#include "common/set_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel {
namespace {

using SetLockTest = test::ScratchTest;

// A child that takes the lock of `set`, says so through a pipe and waits to be killed.
class Holder {
  public:
    explicit Holder(const std::string& set) {
        if (pipe(ready_) != 0) throw std::runtime_error("pipe");
        proc_ = std::make_unique<test::BackgroundProcess>([this, set] {
            std::optional<SetLock> lock = SetLock::acquire(set);
            char c = lock ? 'y' : 'n';
            if (write(ready_[1], &c, 1) != 1) return 2;
            for (;;) pause();
        });
        char c = 0;
        if (read(ready_[0], &c, 1) != 1) throw std::runtime_error("holder gave no word");
        took_ = c == 'y';
    }
    ~Holder() {
        close(ready_[0]);
        close(ready_[1]);
    }
    bool took() const { return took_; }
    void kill() {
        proc_->signal(SIGKILL);
        proc_->wait();
    }

  private:
    int ready_[2];
    std::unique_ptr<test::BackgroundProcess> proc_;
    bool took_ = false;
};

TEST_F(SetLockTest, ASetLockedByAnotherProcessIsRefusedUntilThatProcessIsKilled) {
    Holder service("Nightly");
    ASSERT_TRUE(service.took());
    EXPECT_FALSE(SetLock::acquire("Nightly"));
    EXPECT_FALSE(SetLock::acquire("NIGHTLY"));  // set names ignore case
    EXPECT_EQ(SetLock::held(), "");
    EXPECT_TRUE(SetLock::acquire("Weekly"));

    service.kill();  // dies holding it: abandoned, which counts as acquired
    std::optional<SetLock> lock = SetLock::acquire("Nightly");
    EXPECT_TRUE(lock);
    EXPECT_EQ(SetLock::held(), "Nightly");
}

TEST_F(SetLockTest, AProgramHoldsAtMostOneSetLock) {
    std::optional<SetLock> nightly = SetLock::acquire("Nightly");
    ASSERT_TRUE(nightly);
    std::optional<SetLock> weekly = SetLock::acquire("Weekly");  // lets Nightly go
    ASSERT_TRUE(weekly);
    EXPECT_FALSE(nightly->holds());
    EXPECT_TRUE(Holder("Nightly").took());
    EXPECT_FALSE(Holder("Weekly").took());
    nightly.reset();  // the superseded holder leaves Weekly alone
    EXPECT_FALSE(Holder("Weekly").took());
    std::optional<SetLock> again = SetLock::acquire("Weekly");  // the same set again is fine
    EXPECT_TRUE(again);
    weekly.reset();
    EXPECT_EQ(SetLock::held(), "Weekly");
    again.reset();
    EXPECT_EQ(SetLock::held(), "");
    EXPECT_TRUE(Holder("Weekly").took());
}

TEST_F(SetLockTest, AnExceptionLeavesNoSetLocked) {
    try {
        std::optional<SetLock> lock = SetLock::acquire("Nightly");
        ASSERT_TRUE(lock);
        throw std::runtime_error("a run fails half-way");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(SetLock::held(), "");
    EXPECT_TRUE(Holder("Nightly").took());
}

TEST_F(SetLockTest, SetNamesOfAnyKindGetLocksOfTheirOwn) {
    EXPECT_EQ(SetLock::mutex_name("My Set"), "lock_backup_my set");
    std::optional<SetLock> lock = SetLock::acquire("a/b");
    ASSERT_TRUE(lock);
    EXPECT_TRUE(Holder("a_b").took());
    EXPECT_TRUE(Holder("a%2Fb").took());
    EXPECT_FALSE(Holder("A/B").took());
}

}  // namespace
}  // namespace vardel
