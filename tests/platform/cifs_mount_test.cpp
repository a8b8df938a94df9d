#include "platform/cifs_mount.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "tests/support/scratch.h"

namespace vardel::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kPassword = "s3cret-Pa55";

// mount.cifs stood in for by a script that writes what it was given (but
// never the password itself) to a record file outside VARDEL_ROOT.
class CifsMountTest : public test::ScratchTest {
  protected:
    void SetUp() override {
        ScratchTest::SetUp();
        record = path("record.txt");
        private_dir = path("root/run/shares");
    }
    std::string fake(const std::string& tail) {
        std::string script =
            "#!/bin/sh\n"
            "rec='" +
            record +
            "'\n"
            "for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done > \"$rec\"\n"
            "env | sed 's/^/env=/' >> \"$rec\"\n"
            "cred=$(printf '%s' \"$4\" | sed -n 's/^credentials=\\([^,]*\\).*/\\1/p')\n"
            "printf 'cred=%s\\n' \"$cred\" >> \"$rec\"\n"
            "stat -c 'mode=%a' \"$cred\" >> \"$rec\"\n"
            "grep -qx 'username=share user' \"$cred\" && echo user-ok >> \"$rec\"\n"
            "grep -qx 'password=" +
            std::string(kPassword) + "' \"$cred\" && echo password-ok >> \"$rec\"\n" + tail + "\n";
        std::string p = write_file("mount.fake", script);
        fs::permissions(p, fs::perms::owner_all);
        return p;
    }
    CifsMountRequest request() {
        CifsMountRequest r;
        r.source = "//nas/backups";
        r.mount_point = path("root/run/shares/nas/backups");
        r.username = "share user";
        r.password = kPassword;
        r.uid = 1234;
        r.gid = 567;
        return r;
    }
    // No file left under VARDEL_ROOT holds the password.
    void expect_no_password_left() {
        for (auto& e : fs::recursive_directory_iterator(path("root"))) {
            if (!e.is_regular_file()) continue;
            EXPECT_EQ(read_file(e.path().string()).find(kPassword), std::string::npos) << e.path();
        }
    }
    std::string record, private_dir;
};

TEST_F(CifsMountTest, PassesThePasswordOnlyInAPrivateCredentialsFileRemovedAfterwards) {
    CifsMount m(fake("exit 0"), private_dir);
    CifsMountResult r = m.mount(request());
    EXPECT_TRUE(r.mounted) << r.error_text;
    std::string rec = read_file(record);
    std::string cred_path = private_dir + "/" + CifsMount::kCredentialsPrefix;
    EXPECT_NE(rec.find("arg=//nas/backups\narg=" + path("root/run/shares/nas/backups") +
                       "\narg=-o\narg=credentials=" + cred_path),
              std::string::npos)
        << rec;
    EXPECT_NE(rec.find(",uid=1234,gid=567\n"), std::string::npos) << rec;
    EXPECT_NE(rec.find("mode=600\n"), std::string::npos) << rec;
    EXPECT_NE(rec.find("user-ok\npassword-ok\n"), std::string::npos) << rec;
    EXPECT_EQ(rec.find(kPassword), std::string::npos);  // not in argv nor in the environment
    EXPECT_EQ(rec.find("env=PASSWD"), std::string::npos);

    EXPECT_TRUE(fs::is_directory(path("root/run/shares/nas/backups")));
    EXPECT_EQ(fs::status(private_dir).permissions() & fs::perms::all, fs::perms::owner_all);
    for (auto& e : fs::directory_iterator(private_dir))
        EXPECT_NE(e.path().filename().string().rfind(CifsMount::kCredentialsPrefix, 0), 0u);
    expect_no_password_left();
}

TEST_F(CifsMountTest, AFailedMountGivesTheMountsErrorAndLeavesNoCredentials) {
    setenv("PASSWD", "from-the-environment", 1);
    CifsMount m(fake("echo 'mount error(13): Permission denied'\n"
                     "echo 'Refer to the mount.cifs(8) manual page (e.g. man mount.cifs)'\n"
                     "exit 32"),
                private_dir);
    CifsMountResult r = m.mount(request());
    unsetenv("PASSWD");
    EXPECT_FALSE(r.mounted);
    EXPECT_EQ(r.error_number, 13);
    EXPECT_EQ(r.error_text, "Permission denied");
    EXPECT_EQ(read_file(record).find("from-the-environment"), std::string::npos);
    expect_no_password_left();
    for (auto& e : fs::directory_iterator(private_dir)) EXPECT_TRUE(e.is_directory()) << e.path();
}

TEST_F(CifsMountTest, OutputThatEchoesThePasswordIsNotPassedOn) {
    CifsMount m(fake("grep password \"$cred\"; exit 1"), private_dir);
    CifsMountResult r = m.mount(request());
    EXPECT_FALSE(r.mounted);
    EXPECT_EQ(r.error_text.find(kPassword), std::string::npos);
    EXPECT_EQ(r.error_text, "mount.cifs failed with status 1");
}

TEST_F(CifsMountTest, AHungMountIsKilledAndItsCredentialsStillRemoved) {
    CifsMount m(fake("exec sleep 30"), private_dir, 300ms);
    CifsMountResult r = m.mount(request());
    EXPECT_FALSE(r.mounted);
    EXPECT_EQ(r.error_number, ETIMEDOUT);
    expect_no_password_left();
}

TEST_F(CifsMountTest, CredentialsLeftByADeadProcessAreRemovedFirst) {
    std::string stale = write_file("root/run/shares/.credentials-dead01", "password=old\n");
    std::string other = write_file("root/run/shares/keep.txt", "x");
    fs::last_write_time(stale, fs::file_time_type::clock::now() - 1h);
    CifsMount m(fake("exit 0"), private_dir, 1s);
    EXPECT_TRUE(m.mount(request()).mounted);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(other));
}

TEST_F(CifsMountTest, RefusesWhatACredentialsFileCannotHoldAndAMissingProgram) {
    CifsMountRequest req = request();
    req.password = "two\nlines";
    CifsMountResult r = CifsMount(fake("exit 0"), private_dir).mount(req);
    EXPECT_FALSE(r.mounted);
    EXPECT_EQ(r.error_number, EINVAL);
    EXPECT_FALSE(fs::exists(record));  // never started

    r = CifsMount(path("no/mount.cifs"), private_dir).mount(request());
    EXPECT_FALSE(r.mounted);
    EXPECT_EQ(r.error_number, ENOENT);
}

TEST(CifsMountFailure, ReadsTheMountsMessages) {
    auto r = cifs_mount_failure("mount error(112): Host is down\nRefer to ...\n", 32);
    EXPECT_EQ(r.error_number, 112);
    EXPECT_EQ(r.error_text, "Host is down");
    r = cifs_mount_failure("mount error(111): could not connect to 10.0.0.1\r\n", 32);
    EXPECT_EQ(r.error_number, 111);
    EXPECT_EQ(r.error_text, "could not connect to 10.0.0.1");
    r = cifs_mount_failure("mount error: cifs filesystem not supported by the system\n", 32);
    EXPECT_EQ(r.error_number, ENODEV);
    EXPECT_EQ(r.error_text, "cifs filesystem not supported by the system");
    r = cifs_mount_failure("\nmount.cifs: permission denied: no match for /x found in /etc/fstab\n",
                           1);
    EXPECT_EQ(r.error_number, EPERM);
    r = cifs_mount_failure("Couldn't chdir to /x: No such file or directory\n", 32);
    EXPECT_EQ(r.error_number, 32);
    EXPECT_EQ(r.error_text, "Couldn't chdir to /x: No such file or directory");
    r = cifs_mount_failure("", 2);
    EXPECT_EQ(r.error_text, "mount.cifs failed with status 2");
}

// The real mount.cifs against a share nobody serves: whatever this machine
// allows, it must fail with the mount's own error and leave nothing behind.
TEST_F(CifsMountTest, RealMountCifsFailsCleanlyForAShareNobodyServes) {
    if (!fs::exists("/usr/sbin/mount.cifs") && !fs::exists("/sbin/mount.cifs"))
        GTEST_SKIP() << "mount.cifs (cifs-utils) is not installed";
    CifsMountRequest req = request();
    req.source = "//127.0.0.1/vardel-no-such-share";
    CifsMountResult r = CifsMount("mount.cifs", private_dir, 60s).mount(req);
    ASSERT_FALSE(r.mounted);
    EXPECT_NE(r.error_number, 0);
    EXPECT_FALSE(r.error_text.empty());
    EXPECT_EQ(r.error_text.find(kPassword), std::string::npos);
    expect_no_password_left();
}

}  // namespace
}  // namespace vardel::platform
