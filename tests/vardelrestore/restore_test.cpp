// The restore tool's logic on destinations made by hand: the tree, loading,
// the list's views and the extraction rules, hostile names included.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/backup_set_table.h"
#include "common/destination_names.h"
#include "common/list_file.h"
#include "common/set_lock.h"
#include "common/setting_names.h"
#include "platform/file_info.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch.h"
#include "tests/vardelrestore/restore_support.h"
#include "vardelrestore/backup_loader.h"
#include "vardelrestore/catalogue.h"
#include "vardelrestore/extractor.h"
#include "vardelrestore/version_list.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;
using test::SafItem;

class Restore : public test::ScratchTest {
  protected:
    // A SAF set "Nightly" whose cycle 1 holds `saves` backups, each with the
    // items given for it, and its catalogue.
    void make_saf_set(const std::vector<std::vector<SafItem>>& saves,
                      const std::string& password = {}) {
        dest_ = path("dest");
        std::vector<std::pair<int, int>> instances;
        for (size_t s = 0; s < saves.size(); ++s) {
            instances.emplace_back(1, static_cast<int>(s + 1));
            test::write_saf(dest_ + "/" + destination::saf_archive(1, s + 1), saves[s], password);
        }
        test::write_state(dest_, "Nightly", 0, instances, 3, 4, !password.empty());
        catalogue_ = Catalogue();
        ASSERT_EQ(catalogue_.add_from_ini(dest_ + "/BACKUP.INI"), Catalogue::AddResult::Added);
    }
    void write_list(int save, const std::vector<std::pair<char, std::string>>& lines) {
        std::string text;
        for (auto& [k, t] : lines) text += format_list_line(k, t);
        test::write_whole_file(dest_ + "/" + destination::list_file(1, save), text);
    }
    BackupLoader::Outcome load(int32_t save, bool single = false) {
        auto node = catalogue_.find(0, 1, save);
        EXPECT_TRUE(node);
        node_ = *node;
        return BackupLoader(table_, lock_, ui_).load(catalogue_[node_], single);
    }
    std::vector<std::string> loaded() const {
        std::vector<std::string> out;
        for (const VersionRecord& r : table_.records())
            out.push_back(std::string(r.path) + "@" + std::to_string(r.save) + r.action);
        return out;
    }
    bool extract(const ExtractOptions& options, std::vector<uint32_t> records = {}) {
        if (records.empty())
            for (uint32_t i = 0; i < table_.size(); ++i) records.push_back(i);
        std::atomic<bool> stop{false};
        Extractor x(catalogue_[node_], table_, options, ui_, stop);
        return x.run(records);
    }
    ExtractOptions to(const std::string& folder, std::string base = {}) {
        ExtractOptions o;
        o.target_folder = folder;
        o.base_directory = std::move(base);
        o.overwrite = ExtractOptions::Overwrite::Prompt;
        return o;
    }

    std::string dest_;
    Catalogue catalogue_;
    VersionTable table_;
    std::optional<SetLock> lock_;
    test::ScriptedUi ui_;
    size_t node_ = 0;
};

TEST_F(Restore, TheTreeShowsRecordedBackupsAndNamesAnAddedSetUniquely) {
    dest_ = path("dest");
    test::write_state(dest_, "Nightly", 0, {{1, 1}, {1, 2}, {2, 1}}, 2, 2);
    BackupSetTable sets;
    auto set = std::make_unique<BackupSet>();
    set->Name = "nightly";
    set->BackupDestination = dest_;
    set->CyclesToSave = 2;
    set->BackupsPerCycle = 2;
    sets.add(std::move(set));
    auto missing = std::make_unique<BackupSet>();
    missing->Name = "Elsewhere";
    missing->BackupDestination = path("nothing");
    sets.add(std::move(missing));

    Catalogue c;
    c.build(sets);
    std::vector<std::string> labels;
    for (const CatalogueNode& n : c.nodes())
        labels.push_back(std::string(n.level, '>') + n.label());
    ASSERT_EQ(labels.size(), 6u);
    EXPECT_EQ(labels[0], "nightly");
    EXPECT_EQ(labels[1], ">Cycle 1");
    EXPECT_EQ(labels[2].substr(0, 17), ">>Save 1, as of  ");
    EXPECT_EQ(labels[4], ">Cycle 2");
    EXPECT_EQ(c[3].parent, 1u);

    size_t root = 0;
    EXPECT_EQ(c.add_from_ini(dest_ + "/BACKUP.INI", &root), Catalogue::AddResult::Added);
    EXPECT_EQ(c[root].set_name, "Nightly 1");
    EXPECT_EQ(c[root].destination, dest_ + "/");
    EXPECT_EQ(c.add_from_ini(path("none.ini")), Catalogue::AddResult::Unreadable);
    write_file("other.ini", "[BACKUPSET]\nCYCLES=1\n");
    EXPECT_EQ(c.add_from_ini(path("other.ini")), Catalogue::AddResult::NotABackupIni);
}

TEST_F(Restore, ACycleLoadsItsChainASaveUpToItselfAndSingleOnlyOneBackup) {
    make_saf_set({{{"/d/a", "1"}}, {{"/d/b", "2"}}, {{"/d/a", "3"}}});
    ASSERT_EQ(load(0), BackupLoader::Outcome::Loaded);
    EXPECT_EQ(loaded(), (std::vector<std::string>{"/d/a@1S", "/d/a@3S", "/d/b@2S"}));
    load(2);
    EXPECT_EQ(loaded(), (std::vector<std::string>{"/d/a@1S", "/d/b@2S"}));
    load(2, true);
    EXPECT_EQ(loaded(), (std::vector<std::string>{"/d/b@2S"}));
    load(0, true);  // a cycle's last backup
    EXPECT_EQ(loaded(), (std::vector<std::string>{"/d/a@3S"}));
}

TEST_F(Restore, ALoadedSetStaysLockedAndASetInUseIsRefused) {
    make_saf_set({{{"/d/a", "1"}}});
    ASSERT_EQ(load(0), BackupLoader::Outcome::Loaded);
    auto other = [] { return SetLock::acquire("Nightly") ? 0 : 1; };
    EXPECT_EQ(test::run_in_child(other).exit_code, 1);  // held here
    lock_.reset();
    EXPECT_EQ(test::run_in_child(other).exit_code, 0);

    test::BackgroundProcess service([] {
        auto lock = SetLock::acquire("NIGHTLY");
        ::pause();
        return 0;
    });
    ASSERT_TRUE(test::wait_until([] {
        return test::run_in_child([] { return SetLock::acquire("Nightly") ? 0 : 1; }).exit_code ==
               1;
    }));
    EXPECT_EQ(load(0), BackupLoader::Outcome::InUse);
    EXPECT_TRUE(table_.empty());
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0],
              "Can't Access Backup Set: Backup Set 'Nightly' is currently in use by another "
              "program (possibly the backup process");
}

TEST_F(Restore, DeletionsFromListFilesAndTheViewsOfTheList) {
    make_saf_set({{{"/data/x.txt", "1"}, {"/data/sub/y", "1"}, {"/data/z", "1"}},
                  {{"/data/sub/y", "2"}},
                  {{"/data/x.txt", "3"}}});
    write_list(2, {{'A', "/data/"}, {'D', "z"}, {'C', "/data/gone/"}, {'D', "w"}});
    load(0);
    EXPECT_EQ(loaded(), (std::vector<std::string>{
                            "/data/gone@2D", "/data/gone/w@2D", "/data/sub/y@1S", "/data/sub/y@2S",
                            "/data/x.txt@1S", "/data/x.txt@3S", "/data/z@1S", "/data/z@2D"}));
    auto rows = [&](ViewOptions v) {
        VersionList list;
        list.build(table_, v);
        std::vector<std::string> out;
        for (size_t r = 0; r < list.size(); ++r)
            out.push_back(list.cell(r, 0) + "|" + list.cell(r, 1) + "|" + list.cell(r, 2) + "|" +
                          list.cell(r, 4));
        return out;
    };
    // By file name: the versions of one item read as a group.
    EXPECT_EQ(rows({}),
              (std::vector<std::string>{"(dir)|/data/gone|2|Del", "w|/data/gone/|2|Del",
                                        "x.txt|/data/|1|Save", "||3|Save", "y|/data/sub/|1|Save",
                                        "||2|Save", "z|/data/|1|Save", "||2|Del"}));
    EXPECT_EQ(
        rows({.latest_only = true}),
        (std::vector<std::string>{"(dir)|/data/gone|2|Del", "w|/data/gone/|2|Del",
                                  "x.txt|/data/|3|Save", "y|/data/sub/|2|Save", "z|/data/|2|Del"}));
    EXPECT_EQ(rows({.by_pathname = true}),
              (std::vector<std::string>{"(dir)|/data/gone|2|Del", "x.txt|/data/|1|Save", "||3|Save",
                                        "z|/data/|1|Save", "||2|Del", "w|/data/gone/|2|Del",
                                        "y|/data/sub/|1|Save", "||2|Save"}));
    EXPECT_EQ(
        rows({.by_save = true}),
        (std::vector<std::string>{"x.txt|/data/|1|Save", "y|/data/sub/|1|Save", "z|/data/|1|Save",
                                  "(dir)|/data/gone|2|Del", "w|/data/gone/|2|Del",
                                  "y|/data/sub/|2|Save", "z|/data/|2|Del", "x.txt|/data/|3|Save"}));
    VersionList list;
    list.build(table_, {});
    EXPECT_EQ(list.newest_rows(), (std::vector<size_t>{0, 1, 3, 5, 7}));
    EXPECT_EQ(list.cell(3, VersionList::kIndex), "5");
    list.build(VersionTable(), {});
    EXPECT_TRUE(list.newest_rows().empty());
}

// A discrete backup that only recorded a deletion has an empty folder.
TEST_F(Restore, ADiscreteBackupOfDeletionsAloneStillDeletes) {
    dest_ = path("dest");
    write_file("dest/B1_1/data/z", "1");
    fs::create_directories(path("dest/B1_2"));
    test::write_state(dest_, "Nightly", SAVE_DISCRETE, {{1, 1}, {1, 2}});
    ASSERT_EQ(catalogue_.add_from_ini(dest_ + "/BACKUP.INI"), Catalogue::AddResult::Added);
    write_list(2, {{'A', "/data/"}, {'D', "z"}});
    load(0);
    EXPECT_EQ(loaded(), (std::vector<std::string>{"/data/z@1S", "/data/z@2D"}));
}

TEST_F(Restore, ACutArchiveKeepsTheEntriesBeforeTheDamage) {
    make_saf_set(
        {{{"/d/a", std::string(1000, 'a')}, {"/d/b", "bb"}, {"/d/c", std::string(500, 'c')}}});
    std::string saf = dest_ + "/" + destination::saf_archive(1, 1);
    fs::resize_file(saf, fs::file_size(saf) - 600);
    load(0);
    EXPECT_EQ(loaded(), (std::vector<std::string>{"/d/a@1S", "/d/b@1S"}));
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0],
              "ERROR Reading File: SAF file error: Can't load data headers from SAF file");
    // What lies before the damage comes out whole.
    EXPECT_TRUE(extract(to(path("out"), "/d/")));
    EXPECT_EQ(read_file(path("out/a")), std::string(1000, 'a'));
    EXPECT_EQ(read_file(path("out/b")), "bb");
}

TEST_F(Restore, TargetsFollowTheBaseDirectoryAndItsProposal) {
    ExtractOptions o;
    o.base_directory = "/data/";
    auto where = [&](const char* p) {
        TargetPlan t = plan_target(p, o);
        std::string s = t.kind == TargetPlan::Write  ? ""
                        : t.kind == TargetPlan::Skip ? "skip"
                                                     : "unsafe";
        for (auto& f : t.folders) s += f + "/";
        return s + t.name;
    };
    EXPECT_EQ(where("/data/a/b.txt"), "a/b.txt");
    EXPECT_EQ(where("/DATA/a/b.txt"), "skip");  // names are compared exactly
    EXPECT_EQ(where("/other/x.txt"), "skip");
    o.ignore_other_files = false;
    EXPECT_EQ(where("/other/x.txt"), "other/x.txt");
    EXPECT_EQ(where("/data/./a//b"), "a/b");
    for (const char* bad : {"/data/../../x", "../../x", "/x/../../y", "/data/a/.."})
        EXPECT_EQ(where(bad), "unsafe") << bad;
    EXPECT_EQ(plan_target(std::string("/data/a\0/z", 10), o).kind, TargetPlan::Unsafe);
    EXPECT_EQ(where("/data/"), "skip");

    EXPECT_EQ(propose_base_directory({"/data/a/b.txt", "/data/a/c", "/data/ab/d"}), "/data/");
    EXPECT_EQ(propose_base_directory({"/data/a/b.txt"}), "/data/a/");
    EXPECT_EQ(propose_base_directory({"/Data/x", "/data/x"}), "/");
    EXPECT_EQ(propose_base_directory({}), "");
}

TEST_F(Restore, OnlyTheLastOfAnItemsRowsIsExtractedAndNoToAllHolds) {
    make_saf_set(
        {{{"/d/a", "a1"}, {"/d/b", "b1"}, {"/d/c", "c1"}}, {{"/d/a", "a2"}}, {{"/d/a", "a3"}}});
    load(0);
    ASSERT_TRUE(extract(to(path("out"), "/d/")));
    EXPECT_EQ(read_file(path("out/a")), "a3");
    EXPECT_TRUE(ui_.asked.empty());

    for (const char* f : {"out/a", "out/b", "out/c"}) write_file(f, "mine");
    ui_.answers = {PromptAnswer::Yes, PromptAnswer::NoToAll};
    ASSERT_TRUE(extract(to(path("out"), "/d/")));
    EXPECT_EQ(ui_.asked, (std::vector<std::string>{path("out/a"), path("out/b")}));
    EXPECT_EQ(read_file(path("out/a")), "a3");
    EXPECT_EQ(read_file(path("out/b")), "mine");
    EXPECT_EQ(read_file(path("out/c")), "mine");

    ui_.asked.clear();
    ui_.answers = {PromptAnswer::Abort};
    EXPECT_FALSE(extract(to(path("out"), "/d/")));
    EXPECT_EQ(ui_.asked.size(), 1u);
}

TEST_F(Restore, HostileNamesAndPlantedLinksNeverLeadOutsideTheTarget) {
    std::string outside = path("outside");
    fs::create_directories(outside);
    make_saf_set({{{"../../x", "evil"},
                   {"/x/../../y", "evil"},
                   {"/d/link/planted", "evil"},
                   {"/d/file-link", "evil"},
                   {"/d/ok", "fine"}}});
    fs::create_directories(path("out"));
    fs::create_directory_symlink(outside, path("out/link"));
    fs::create_symlink(outside + "/target", path("out/file-link"));
    load(0);
    ExtractOptions o = to(path("out"), "/d/");
    o.ignore_other_files = false;
    o.overwrite = ExtractOptions::Overwrite::All;
    std::atomic<bool> stop{false};
    Extractor x(catalogue_[node_], table_, o, ui_, stop);
    std::vector<uint32_t> all;
    for (uint32_t i = 0; i < table_.size(); ++i) all.push_back(i);
    EXPECT_TRUE(x.run(all));
    EXPECT_EQ(x.failed_items(), 3u);  // the two ".." names and the folder link
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_EQ(read_file(path("out/ok")), "fine");
    // The link at a file's place is replaced, never written through.
    EXPECT_FALSE(fs::is_symlink(path("out/file-link")));
    EXPECT_EQ(read_file(path("out/file-link")), "evil");
    EXPECT_TRUE(fs::is_symlink(path("out/link")));
    int refused = 0;
    for (const std::string& m : ui_.messages)
        refused += m.find("leads outside") != std::string::npos;
    EXPECT_EQ(refused, 2);
}

TEST_F(Restore, DataThatFailsItsCheckIsNotWrittenOverAFile) {
    make_saf_set({{{"/d/a", "hello world"}}});
    std::string saf = dest_ + "/" + destination::saf_archive(1, 1);
    std::string bytes = read_file(saf);
    bytes[bytes.find("hello world")] ^= 0x20;
    test::write_whole_file(saf, bytes);
    load(0);
    write_file("out/a", "mine");
    ExtractOptions o = to(path("out"), "/d/");
    o.overwrite = ExtractOptions::Overwrite::All;
    EXPECT_TRUE(extract(o));
    EXPECT_EQ(read_file(path("out/a")), "mine");
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0], "ERROR Reading File: Bad data in the backup of /d/a: not extracted");
}

TEST_F(Restore, AWrongPasswordOrADamagedEntryCostsNoFile) {
    make_saf_set({{{"/d/a", "secret a"}, {"/d/b", std::string(70000, 'b')}}}, "right");
    load(0);
    write_file("out/a", "mine");
    ExtractOptions o = to(path("out"), "/d/");
    o.overwrite = ExtractOptions::Overwrite::All;
    o.password = "wrong";
    EXPECT_FALSE(extract(o));
    EXPECT_EQ(ui_.messages.back(), "Encountered an Error: Invalid password for encrypted SAF file");
    EXPECT_EQ(read_file(path("out/a")), "mine");
    EXPECT_FALSE(fs::exists(path("out/b")));

    // Damage inside b's data: a is written, b's old file stays as it was.
    write_file("out/b", "old b");
    std::string saf = dest_ + "/" + destination::saf_archive(1, 1);
    fs::resize_file(saf, fs::file_size(saf) - 2000);
    table_.clear();
    table_.add("/d/a", 0, 1, 0, 0, 'S', VersionRecord::File);
    table_.add("/d/b", 1, 1, 0, 0, 'S', VersionRecord::File);
    o.password = "right";
    EXPECT_FALSE(extract(o));
    EXPECT_EQ(read_file(path("out/a")), "secret a");
    EXPECT_EQ(read_file(path("out/b")), "old b");
    size_t names = 0;
    for (auto& e : fs::directory_iterator(path("out"))) names += e.is_regular_file();
    EXPECT_EQ(names, 2u);  // no temporary file left behind
}

}  // namespace
}  // namespace vardel

namespace vardel {
namespace {

TEST_F(Restore, TheCommandLineListsRowsAndSaysWhatIsWrong) {
    make_saf_set({{{"/d/a", "1"}, {"/d/e/b", "2"}}});
    const std::string ini = dest_ + "/BACKUP.INI";
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), test::program_path("vardelrestore"));
        return test::run_program(args);
    };
    auto list = run({"--list", "--ini", ini, "--sort", "pathname"});
    ASSERT_EQ(list.exit_code, 0) << list.err;
    EXPECT_EQ(list.out.substr(0, list.out.find('\n')),
              "File\tPath\tSave #\tLast Mod Date\tAction\tDate Saved\t");
    EXPECT_NE(list.out.find("\nb\t/d/e/\t1\t"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\tSave\t"), std::string::npos);

    EXPECT_EQ(run({"--list", "--to", path("x")}).exit_code, 2);
    EXPECT_EQ(run({"--extract", "--ini", ini}).exit_code, 2);  // no --to
    EXPECT_EQ(run({"--list", "--sort", "size"}).exit_code, 2);
    auto bad_ini = run({"--list", "--ini", path("none.ini")});
    EXPECT_EQ(bad_ini.exit_code, 1);
    EXPECT_EQ(bad_ini.err, "Can't load specified INI\n");
    auto nothing = run({"--extract", "--ini", ini, "--to", path("out"), "/d/zzz"});
    EXPECT_EQ(nothing.exit_code, 1);
    EXPECT_EQ(nothing.err, "vardelrestore: nothing is saved at /d/zzz\n");
    EXPECT_FALSE(fs::exists(path("out")));
    auto one = run({"--extract", "--ini", ini, "--to", path("out"), "--base", "/d/", "/d/e"});
    EXPECT_EQ(one.exit_code, 0) << one.err;
    EXPECT_EQ(read_file(path("out/e/b")), "2");
    EXPECT_FALSE(fs::exists(path("out/a")));
}

}  // namespace
}  // namespace vardel
