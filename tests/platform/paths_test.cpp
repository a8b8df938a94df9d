#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
}  // namespace vardel::platform
