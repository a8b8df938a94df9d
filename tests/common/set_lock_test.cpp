#include "common/set_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel {
namespace {

class SetLockTest : public test::ScratchTest {
  protected:
    void TearDown() override {
        SetLock::release();
        test::ScratchTest::TearDown();
    }
};

// A child that takes the lock of `set`, says so through a pipe and waits to be killed.
class Holder {
  public:
    explicit Holder(const std::string& set) {
        if (pipe(ready_) != 0) throw std::runtime_error("pipe");
        proc_ = std::make_unique<test::BackgroundProcess>([this, set] {
            char c = SetLock::acquire(set) ? 'y' : 'n';
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
    EXPECT_TRUE(SetLock::acquire("Nightly"));
    EXPECT_EQ(SetLock::held(), "Nightly");
}

TEST_F(SetLockTest, AProgramHoldsAtMostOneSetLock) {
    ASSERT_TRUE(SetLock::acquire("Nightly"));
    ASSERT_TRUE(SetLock::acquire("Weekly"));  // lets Nightly go
    EXPECT_TRUE(Holder("Nightly").took());
    EXPECT_FALSE(Holder("Weekly").took());
    EXPECT_TRUE(SetLock::acquire("Weekly"));  // the same set again is fine
    SetLock::release();
    EXPECT_EQ(SetLock::held(), "");
    EXPECT_TRUE(Holder("Weekly").took());
}

TEST_F(SetLockTest, SetNamesOfAnyKindGetLocksOfTheirOwn) {
    EXPECT_EQ(SetLock::mutex_name("My Set"), "lock_backup_my set");
    ASSERT_TRUE(SetLock::acquire("a/b"));
    EXPECT_TRUE(Holder("a_b").took());
    EXPECT_TRUE(Holder("a%2Fb").took());
    EXPECT_FALSE(Holder("A/B").took());
}

}  // namespace
}  // namespace vardel
