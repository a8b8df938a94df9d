#include "platform/named_mutex.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/object_name.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel::platform {
namespace {

using namespace std::chrono_literals;

class NamedMutexTest : public test::ScratchTest {};

TEST_F(NamedMutexTest, TwoHoldersOfOneNameExcludeEachOtherEvenInOneProcess) {
    NamedMutex a("unique_vardelnotify_1");
    NamedMutex b("unique_vardelnotify_1");
    NamedMutex other("unique_vardelnotify_2");
    EXPECT_TRUE(a.try_lock());
    EXPECT_TRUE(a.try_lock());  // already ours
    EXPECT_FALSE(b.try_lock());
    EXPECT_TRUE(other.try_lock());
    a.unlock();
    EXPECT_TRUE(b.try_lock());
}

TEST_F(NamedMutexTest, ALockHeldByAKilledProcessIsFreeAgain) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    test::BackgroundProcess holder([&] {
        NamedMutex m("lock_backup_nightly");
        if (!m.try_lock()) return 1;
        char c = 'x';
        if (write(ready[1], &c, 1) != 1) return 2;
        for (;;) pause();
    });
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    NamedMutex mine("lock_backup_nightly");
    EXPECT_FALSE(mine.try_lock());
    holder.signal(SIGKILL);
    holder.wait();
    EXPECT_TRUE(mine.try_lock());
    close(ready[0]);
    close(ready[1]);
}

TEST_F(NamedMutexTest, AProgramStartedByTheHolderDoesNotInheritTheLock) {
    NamedMutex m("lock_backup_hooks");
    ASSERT_TRUE(m.try_lock());
    // A long-lived command started by the holder (as a hook command is).
    test::BackgroundProcess hook({"/bin/sleep", "30"});
    m.unlock();
    NamedMutex other("lock_backup_hooks");
    ASSERT_TRUE(m.try_lock());
    m.unlock();
    EXPECT_TRUE(other.try_lock());
}

// On a machine-wide install the run folder is every account's: a lock of
// one user's session lives in that user's private run folder, where another
// account can neither take it first nor plant its file.
TEST_F(NamedMutexTest, ASessionLockIsThisAccountsOwnOnAMachineWideInstall) {
    if (::geteuid() != 0) GTEST_SKIP() << "a machine-wide run folder is root's";
    ::chmod(scratch().c_str(), 0755);
    std::string mine = path("xdg-root"), theirs = path("xdg-nobody");
    ::mkdir(mine.c_str(), 0700);
    ::mkdir(theirs.c_str(), 0700);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    const char* was = std::getenv("XDG_RUNTIME_DIR");
    std::string saved = was ? was : "";
    ::unsetenv("VARDEL_ROOT");  // as installed; only private folders are made
    ::setenv("XDG_RUNTIME_DIR", mine.c_str(), 1);
    NamedMutex tray("unique_vardelnotify_c1", LockScope::ThisUser);
    EXPECT_EQ(tray.file_path().rfind(mine + "/vardel/locks/", 0), 0u) << tray.file_path();
    ASSERT_TRUE(tray.try_lock());
    test::ChildResult r = test::run_in_child([&] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 10;
        ::setenv("XDG_RUNTIME_DIR", theirs.c_str(), 1);
        try {
            NamedMutex own("unique_vardelnotify_c1", LockScope::ThisUser);
            return own.try_lock() ? 0 : 11;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 12;
        }
    });
    EXPECT_EQ(r.exit_code, 0) << r.err;
    if (was)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(NamedMutexTest, AnyNameStaysInsideTheLocksFolder) {
    for (const std::string& name : std::vector<std::string>{
             "lock_backup_a/b", "lock_backup_..", "lock_backup_My Set.v2",
             "lock_backup_caf\xc3\xa9", std::string("lock_backup_") + std::string(300, '/')}) {
        NamedMutex m(name);
        EXPECT_EQ(m.file_path().rfind(path("root/run/locks/"), 0), 0u) << m.file_path();
        EXPECT_EQ(m.file_path().find('/', path("root/run/locks/").size()), std::string::npos);
        EXPECT_LE(m.file_path().size() - path("root/run/locks/").size(), 255u);
        EXPECT_TRUE(m.try_lock()) << name;
    }
    // Long names that differ only at their end still get files of their own.
    EXPECT_NE(object_file_name(std::string(300, 'a') + "1"),
              object_file_name(std::string(300, 'a') + "2"));
    EXPECT_NE(object_file_name("a b"), object_file_name("a%20b"));
}

}  // namespace
}  // namespace vardel::platform
