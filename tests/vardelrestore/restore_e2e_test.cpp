// End to end, per format, with and without a password: a tree changes
// across a cycle of four incremental backups made by `vardeld --run`, and
// `vardelrestore --extract` brings back its latest and an earlier state,
// byte for byte, times and permission bits included.
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "common/general_settings.h"
#include "common/setting_names.h"
#include "platform/file_info.h"
#include "tests/support/running_service.h"
#include "tests/support/test_data.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;

struct Item {
    std::string bytes;
    int64_t mtime = 0;
    mode_t mode = 0;
    bool operator==(const Item&) const = default;
};
using State = std::map<std::string, Item>;  // path below the root

State snapshot(const std::string& root) {
    State s;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        platform::FileInfo fi;
        platform::stat_path(e.path().string(), fi);
        s[fs::relative(e.path(), root).string()] = {test::read_whole_file(e.path().string()),
                                                    fi.mtime_sec, fi.mode & 0777};
    }
    return s;
}

class RestoreEndToEnd : public test::ServiceTest,
                        public ::testing::WithParamInterface<std::tuple<int, bool>> {
  protected:
    std::string password() const { return std::get<1>(GetParam()) ? "Pass word 7" : ""; }

    void configure() {
        GeneralSettings g;
        g.load();
        g.EncodingPassword = "Pass word 7";
        auto set = std::make_unique<BackupSet>();
        set->Name = "Home";
        set->BackupDestination = path("dest");
        set->BackupDirs = root_;
        set->BackuDestinationType = DESTINATION_DIRECTORY;
        set->IntervalType = 3;  // on demand
        set->BackupType = 1;    // incremental
        set->BackupsPerCycle = 4;
        set->SaveFormat = std::get<0>(GetParam());
        set->TrackDeletedFiles = true;
        set->SavePathInfo = true;
        set->PasswordEncode = std::get<1>(GetParam());
        g.backup_sets().add(std::move(set));
        g.save();
    }
    void backup() {
        auto r = run_vardeld({"--run", "Home"});
        ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
        states_.push_back(snapshot(root_));
    }
    test::ChildResult restore(std::vector<std::string> args, const std::string& input = {}) {
        std::vector<std::string> argv{test::program_path("vardelrestore"), "--extract", "--latest",
                                      "--base", root_ + "/"};
        argv.insert(argv.end(), args.begin(), args.end());
        if (!password().empty()) {
            write_file("password", password() + "\n");
            argv.insert(argv.end(), {"--password-file", path("password")});
        }
        return test::run_program(argv, {}, input);
    }

    std::string root_;
    std::vector<State> states_;
};

TEST_P(RestoreEndToEnd, TheLatestAndAnEarlierStateComeBackWhole) {
    root_ = path("src");
    write_file("src/docs/letter.txt", "Dear bank,\n");
    write_file("src/docs/old/notes.txt", test::prose(50000));
    write_file("src/photo.jpg", test::random_text(300000, 1));
    write_file("src/private.key", "k");
    ::chmod(path("src/private.key").c_str(), 0600);
    configure();

    backup();
    write_file("src/docs/letter.txt", "Dear bank, again\n");
    write_file("src/docs/new.txt", "new");
    backup();
    fs::remove(path("src/photo.jpg"));
    backup();
    fs::remove_all(path("src/docs/old"));
    write_file("src/docs/letter.txt", "Third letter\n");
    backup();

    // Over the first state, the latest one: changed files replaced, deleted ones gone.
    auto first = restore({"--save", "1", "--to", path("out")});
    ASSERT_EQ(first.exit_code, 0) << first.err;
    EXPECT_EQ(first.out, "Copy completed\n");
    auto latest = restore({"--to", path("out"), "--overwrite", "all", "--delete", "all"});
    ASSERT_EQ(latest.exit_code, 0) << latest.err;
    auto earlier = restore({"--save", "2", "--to", path("early")});
    ASSERT_EQ(earlier.exit_code, 0) << earlier.err;

    for (auto [state, folder] : {std::pair{&states_[3], "out"}, std::pair{&states_[1], "early"}}) {
        State got = snapshot(path(folder));
        ASSERT_EQ(got.size(), state->size()) << folder;
        for (auto& [name, item] : *state) {
            SCOPED_TRACE(std::string(folder) + "/" + name);
            ASSERT_TRUE(got.count(name));
            EXPECT_EQ(got[name].bytes, item.bytes);
            EXPECT_EQ(got[name].mtime, item.mtime);
            // SAF archives keep no permission bits.
            if (std::get<0>(GetParam()) != SAVE_SAF) {
                EXPECT_EQ(got[name].mode, item.mode);
            }
        }
    }
    EXPECT_FALSE(fs::exists(path("out/docs/old")));
}

class RestoreWrongPassword : public RestoreEndToEnd {};

TEST_P(RestoreWrongPassword, IsRefusedBeforeAnyFileIsWritten) {
    root_ = path("src");
    write_file("src/a.txt", "secret");
    configure();
    backup();
    auto r = test::run_program(
        {test::program_path("vardelrestore"), "--extract", "--to", path("out"), "--password-stdin"},
        {}, "not it\n");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(
        r.err.find(std::get<0>(GetParam()) == SAVE_SAF ? "Invalid password for encrypted SAF file"
                                                       : "Invalid password for encoded backup"),
        std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Copy aborted"), std::string::npos);
    EXPECT_TRUE(!fs::exists(path("out")) || fs::is_empty(path("out")));
}

std::string format_name(const ::testing::TestParamInfo<std::tuple<int, bool>>& info) {
    static const char* const names[] = {"Saf", "Zip", "Discrete"};
    return std::string(names[std::get<0>(info.param)]) +
           (std::get<1>(info.param) ? "Encoded" : "Plain");
}

INSTANTIATE_TEST_SUITE_P(Formats, RestoreEndToEnd,
                         ::testing::Combine(::testing::Values(SAVE_SAF, SAVE_ZIP, SAVE_DISCRETE),
                                            ::testing::Bool()),
                         format_name);
INSTANTIATE_TEST_SUITE_P(Formats, RestoreWrongPassword,
                         ::testing::Combine(::testing::Values(SAVE_SAF, SAVE_ZIP, SAVE_DISCRETE),
                                            ::testing::Values(true)),
                         format_name);

}  // namespace
}  // namespace vardel
