#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel::platform {
namespace {

TEST(Paths, VardelRootWinsOverEverything) {
    PathInputs in;
    in.vardel_root = "/tmp/scratch/";
    in.uid = 0;
    in.machine_store_exists = true;
    SuitePaths p = resolve_paths(in);
    EXPECT_EQ(p.scope, StoreScope::Root);
    EXPECT_EQ(p.settings_store, "/tmp/scratch/registry.db");
    EXPECT_EQ(p.runtime_dir, "/tmp/scratch/run");
}

TEST(Paths, RootOrAnExistingMachineStoreMeansMachineWide) {
    PathInputs root;
    root.uid = 0;
    root.home = "/root";
    EXPECT_EQ(resolve_paths(root).settings_store, "/var/lib/vardel/registry.db");
    EXPECT_EQ(resolve_paths(root).runtime_dir, "/run/vardel");

    PathInputs user;
    user.uid = 1000;
    user.home = "/home/ann";
    user.machine_store_exists = true;
    EXPECT_EQ(resolve_paths(user).scope, StoreScope::MachineWide);
}

TEST(Paths, OrdinaryUserUsesXdgFoldersOrTheirDefaults) {
    PathInputs in;
    in.uid = 1000;
    in.home = "/home/ann";
    SuitePaths p = resolve_paths(in);
    EXPECT_EQ(p.scope, StoreScope::PerUser);
    EXPECT_EQ(p.settings_store, "/home/ann/.config/vardel/registry.db");
    EXPECT_EQ(p.runtime_dir, "/tmp/vardel-1000/vardel");

    in.xdg_config_home = "/cfg";
    in.xdg_runtime_dir = "/run/user/1000";
    p = resolve_paths(in);
    EXPECT_EQ(p.settings_store, "/cfg/vardel/registry.db");
    EXPECT_EQ(p.runtime_dir, "/run/user/1000/vardel");
}

class RuntimeDir : public test::ScratchTest {};

TEST_F(RuntimeDir, SubfoldersAreCreatedUnderTheRoot) {
    std::string dir = runtime_subdir("events");
    EXPECT_EQ(dir, scratch() + "/root/run/events");
    struct stat st;
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// An ordinary account's run folder: a child drops to "nobody" (needs root).
TEST_F(RuntimeDir, APerUserFolderThatAnotherAccountControlsIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another account";
    const uid_t nobody = 65534;
    std::string shared = path("shared");
    std::string own = path("own");
    std::filesystem::create_directories(shared);
    std::filesystem::create_directories(own);
    ::chmod(shared.c_str(), 0777);
    ::chmod(scratch().c_str(), 0755);
    ASSERT_EQ(::chown(own.c_str(), nobody, nobody), 0);
    ::chmod(own.c_str(), 0700);
    // A folder made by root where nobody's run folder belongs.
    std::filesystem::create_directories(shared + "/vardel");
    auto as_nobody = [&](const std::string& runtime) {
        return test::run_in_child([&] {
            unsetenv("VARDEL_ROOT");
            setenv("HOME", own.c_str(), 1);
            setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            if (::setgid(nobody) != 0 || ::setuid(nobody) != 0) return 9;
            try {
                std::string d = runtime_subdir("events");
                std::printf("%s", d.c_str());
                return 0;
            } catch (const std::system_error& e) {
                std::printf("%s", e.what());
                return 1;
            }
        });
    };
    if (std::filesystem::exists("/var/lib/vardel/registry.db"))
        GTEST_SKIP() << "a machine-wide store is installed";
    auto refused = as_nobody(shared);
    EXPECT_EQ(refused.exit_code, 1) << refused.out;
    EXPECT_NE(refused.out.find("is not a private folder of this user"), std::string::npos)
        << refused.out;
    auto fine = as_nobody(own);
    EXPECT_EQ(fine.exit_code, 0) << fine.out;
    EXPECT_EQ(fine.out, own + "/vardel/events");
}

}  // namespace
}  // namespace vardel::platform
