#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tests/support/scratch.h"
#include "tests/support/unwritable_folder.h"

namespace vardel::platform {
namespace {

// Fails one chosen step, as a full disk or an I/O error would.
class FailingOps : public AtomicWriteOps {
  public:
    enum Step { Open, Write, ShortWrite, Sync, Rename };
    explicit FailingOps(Step s) : step_(s) {}
    int open_temp(const std::string& p, mode_t m) override {
        if (step_ == Open) return errno = EACCES, -1;
        return AtomicWriteOps::open_temp(p, m);
    }
    ssize_t write(int fd, const void* d, size_t n) override {
        if (step_ == Write) return errno = ENOSPC, -1;
        if (step_ == ShortWrite) {
            if (written_) return errno = ENOSPC, -1;
            written_ = true;
            return AtomicWriteOps::write(fd, d, n / 2);
        }
        return AtomicWriteOps::write(fd, d, n);
    }
    int sync(int fd) override {
        if (step_ == Sync) return errno = EIO, -1;
        return AtomicWriteOps::sync(fd);
    }
    int rename(const std::string& a, const std::string& b) override {
        if (step_ == Rename) return errno = EXDEV, -1;
        return AtomicWriteOps::rename(a, b);
    }

  private:
    Step step_;
    bool written_ = false;
};

class AtomicFile : public test::ScratchTest {};

TEST_F(AtomicFile, ReplacesTheFileAndKeepsItsMode) {
    std::string p = write_file("state.ini", "old");
    ::chmod(p.c_str(), 0600);
    std::string err;
    ASSERT_TRUE(write_file_atomically(p, "new contents", &err)) << err;
    EXPECT_EQ(read_file(p), "new contents");
    struct stat st;
    ::stat(p.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(AtomicFile, AFailureAtAnyStepLeavesTheOldFileWhole) {
    std::string p = write_file("state.ini", "the old state, byte for byte\r\n");
    for (auto step : {FailingOps::Open, FailingOps::Write, FailingOps::ShortWrite, FailingOps::Sync,
                      FailingOps::Rename}) {
        FailingOps ops(step);
        std::string err;
        EXPECT_FALSE(write_file_atomically(p, std::string(100000, 'x'), &err, &ops)) << step;
        EXPECT_NE(err.find("state.ini"), std::string::npos) << err;
        EXPECT_EQ(read_file(p), "the old state, byte for byte\r\n") << step;
        // No temporary file is left behind.
        size_t files = 0;
        for (auto& e : std::filesystem::directory_iterator(scratch())) files += e.is_regular_file();
        EXPECT_EQ(files, 1u) << step;
    }
}

TEST_F(AtomicFile, AReadOnlyFolderFailsWithTheReason) {
    std::string p = write_file("ro/state.ini", "old");
    test::UnwritableFolder ro(path("ro"));
    if (!ro.ok()) GTEST_SKIP() << ro.why_not();
    std::string err;
    EXPECT_FALSE(write_file_atomically(p, "new", &err));
    // The write bits refuse with EACCES, the immutable flag (for root) with EPERM.
    EXPECT_TRUE(err.find(std::strerror(EACCES)) != std::string::npos ||
                err.find(std::strerror(EPERM)) != std::string::npos)
        << err;
    EXPECT_NE(err.find("state.ini"), std::string::npos) << err;
    EXPECT_EQ(read_file(p), "old");
}

}  // namespace
}  // namespace vardel::platform
