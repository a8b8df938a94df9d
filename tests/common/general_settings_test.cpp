#include "common/general_settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "common/my_error.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel {
namespace {

using registry::Root;

class Settings : public test::ScratchTest {
  protected:
    void SetUp() override {
        test::ScratchTest::SetUp();
        ASSERT_TRUE(registry::create_key(Root::LocalMachine, kProductKey));  // as installed
    }
    static registry::Key product() { return *registry::open_key(Root::LocalMachine, kProductKey); }
    static std::optional<registry::Key> set_key(std::string_view name) {
        return registry::open_key(Root::LocalMachine, registry::join_path(kBackupSetsKey, name));
    }
};

template <class F>
MyError error_of(F f) {
    try {
        f();
    } catch (const MyError& e) {
        return e;
    }
    return MyError(NO_ERRORS, "no error");
}

std::unique_ptr<BackupSet> named(std::string name) {
    auto s = std::make_unique<BackupSet>();
    s->Name = std::move(name);
    return s;
}

// Every stored field away from its default, different for each `seed`.
template <class Record>
void fill(Record& r, int seed) {
    int i = 0;
    for (const SettingField<Record>& f : Record::fields()) {
        ++i;
        if (f.is_number())
            r.*f.number = seed * 100 + i;
        else if (f.is_flag())
            r.*f.flag = !f.default_flag;
        else if (f.is_scrambled())
            r.*f.text = "Pa$$ word ~" + std::to_string(seed * 100 + i);
        else if (f.kind == SettingKind::MultiLineText)
            r.*f.text = "/line one " + std::to_string(seed) + "\r\n/two\r\n/" + f.name;
        else
            r.*f.text = std::string(f.name) + " " + std::to_string(seed);
    }
}

TEST_F(Settings, MissingValuesGiveTheirDefaults) {
    GeneralSettings g;
    g.load();
    EXPECT_EQ(g, GeneralSettings());
    EXPECT_TRUE(g.WriteLogsToFile);
    EXPECT_EQ(g.CycleLogDays, 7);
    EXPECT_EQ(g.CycleLogSize, 100);
    EXPECT_EQ(g.KeepNLogs, 3);
    EXPECT_FALSE(g.OnlyStartIfLoggedOff);
    EXPECT_EQ(g.GiveUpIfNotLoggedOff, 5);
    EXPECT_EQ(g.RetryLockTimes, 5);
    EXPECT_EQ(g.WaitForLock, 1);
    EXPECT_TRUE(g.SmartLocking);
    EXPECT_EQ(g.TimeoutForNonService, 60);
    EXPECT_TRUE(g.backup_sets().empty());
    EXPECT_EQ(g.backup_sets().slot_count(), 12u);

    ASSERT_TRUE(
        registry::create_key(Root::LocalMachine, registry::join_path(kBackupSetsKey, "Empty")));
    g.load();
    ASSERT_EQ(g.backup_sets().size(), 1u);
    const BackupSet& s = g.backup_sets()[0];
    EXPECT_EQ(s.Name, "Empty");
    EXPECT_EQ(s.BackupsPerCycle, 1);
    EXPECT_EQ(s.CyclesToSave, 3);
    EXPECT_EQ(s.RequestedClientPriority, 50);
    EXPECT_EQ(s.BackupThreadPriority, -2);
    EXPECT_EQ(s.IntervalDays, "-------");
    EXPECT_EQ(s.MonthList, std::string(31, '-'));
    EXPECT_TRUE(s.Enabled);
    EXPECT_FALSE(s.PasswordEncode);
}

TEST_F(Settings, EveryValueRoundTripsUnderItsExactName) {
    GeneralSettings g;
    fill(g, 1);
    for (int n = 0; n < 3; ++n) {
        auto s = named("Set " + std::to_string(n));
        fill(*s, n + 2);
        g.backup_sets().add(std::move(s));
    }
    g.save();

    GeneralSettings back;
    back.load();
    EXPECT_EQ(back, g);
    EXPECT_EQ(back.EncodingPassword, g.EncodingPassword);

    // Names as stored, spelling included.
    std::optional<registry::Key> k = set_key("Set 0");
    ASSERT_TRUE(k);
    EXPECT_EQ(k->get_value("backudestinationtype")->name, "BackuDestinationType");
    EXPECT_FALSE(k->get_value("BackupDestinationType"));
    EXPECT_EQ(k->values().size(), BackupSet::fields().size());
    // Every field but the two passwords, and the stamp of the passwords kept apart.
    EXPECT_EQ(product().values().size(), GeneralSettings::fields().size() - 1);
    EXPECT_EQ(k->get_value("BackupDirs")->data, "/line one 2\t/two\t/BackupDirs");
}

// The settings store may be readable by all; the passwords are not kept in
// it but beside it, in a file for its owner alone, and never in the clear.
// An older store that holds them gives them until its first save moves them.
TEST_F(Settings, PasswordsLiveApartForTheOwnerAloneAndMoveThereOnTheFirstSave) {
    registry::write_scrambled(product(), "SharePassword", "old share");
    registry::write_scrambled_as_text(product(), "EncodingPassword", "old code");
    GeneralSettings g;
    g.load();
    EXPECT_EQ(g.SharePassword, "old share");
    EXPECT_EQ(g.EncodingPassword, "old code");
    g.SharePassword = "new share";
    g.save();
    EXPECT_FALSE(product().get_value("SharePassword"));
    EXPECT_FALSE(product().get_value("EncodingPassword"));
    const std::string secrets = path("root/secrets.db");
    struct stat st;
    ASSERT_EQ(::stat(secrets.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(read_file(secrets).find("new share"), std::string::npos);
    GeneralSettings back;
    back.load();
    EXPECT_EQ(back.SharePassword, "new share");
    EXPECT_EQ(back.EncodingPassword, "old code");

    // Another account reads the settings, and no password.
    if (::geteuid() != 0) return;
    ::chmod(scratch().c_str(), 0755);
    ::chmod(path("root").c_str(), 0755);
    for (const char* f : {"root/registry.db", "root/registry.db-wal", "root/registry.db-shm"})
        ::chmod(path(f).c_str(), 0644);
    test::ChildResult r = test::run_in_child([&] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 10;
        GeneralSettings other;
        try {
            other.load();
        } catch (const MyError& e) {
            std::fprintf(stderr, "%s\n", e.message());
            return 12;
        }
        return other.SharePassword.empty() && other.EncodingPassword.empty() &&
                       other.KeepNLogs == back.KeepNLogs
                   ? 0
                   : 11;
    });
    EXPECT_EQ(r.exit_code, 0) << r.err;
}

TEST_F(Settings, AStorePassedInIsTheOnlyOneReadAndWritten) {
    registry::Store other =
        platform::RegistryStore::open(path("elsewhere/registry.db"), platform::StoreScope::PerUser);
    registry::create_key(other, Root::LocalMachine, kProductKey);
    GeneralSettings g;
    fill(g, 4);
    g.backup_sets().add(named("Elsewhere"));
    g.save(other);

    GeneralSettings mine;
    mine.load();  // this process's store is untouched
    EXPECT_EQ(mine, GeneralSettings());
    GeneralSettings back;
    back.load(other);
    EXPECT_EQ(back, g);
    BackupSetTable sets;
    sets.load(other);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].Name, "Elsewhere");
}

TEST_F(Settings, AThirteenthSetGrowsTheTableByTwelveAndKeepsTheOrder) {
    GeneralSettings g;
    for (int n = 0; n < 13; ++n) g.backup_sets().add(named(strprintf("set%02d", n)));
    EXPECT_EQ(g.backup_sets().slot_count(), 24u);
    ASSERT_EQ(g.backup_sets().size(), 13u);
    for (int n = 0; n < 13; ++n) EXPECT_EQ(g.backup_sets()[n].Name, strprintf("set%02d", n));
    EXPECT_EQ(g.backup_sets().slot(13), nullptr);

    g.save();
    GeneralSettings back;
    back.load();
    EXPECT_EQ(back.backup_sets().slot_count(), 24u);
    EXPECT_EQ(back, g);
}

TEST_F(Settings, AReloadAfterASetWasDeletedLeavesNoTraceOfIt) {
    GeneralSettings g;
    for (const char* n : {"Alpha", "Beta", "Gamma"}) g.backup_sets().add(named(n));
    g.save();
    GeneralSettings loaded;
    loaded.load();
    ASSERT_EQ(loaded.backup_sets().size(), 3u);

    registry::open_key(Root::LocalMachine, kBackupSetsKey)->delete_subkey("beta");
    loaded.load();
    ASSERT_EQ(loaded.backup_sets().size(), 2u);
    EXPECT_EQ(loaded.backup_sets()[0].Name, "Alpha");
    EXPECT_EQ(loaded.backup_sets()[1].Name, "Gamma");
    EXPECT_EQ(loaded.backup_sets().find("Beta"), nullptr);
}

TEST_F(Settings, ASaveReplacesEverySetInTheStore) {
    GeneralSettings g;
    g.backup_sets().add(named("Old"));
    g.save();
    g.backup_sets().remove(0);
    g.backup_sets().add(named("New"));
    g.save();
    EXPECT_FALSE(set_key("Old"));
    EXPECT_TRUE(set_key("New"));
}

TEST_F(Settings, AValueOfTheWrongTypeFailsTheLoadAndKeepsWhatWasLoaded) {
    GeneralSettings g;
    g.CycleLogDays = 9;
    g.backup_sets().add(named("Nightly"));
    g.save();
    GeneralSettings loaded;
    loaded.load();

    registry::write_number(product(), "LogFilePath", 5);
    MyError e = error_of([&] { loaded.load(); });
    EXPECT_EQ(e.code(), BAD_DATA);
    EXPECT_STREQ(e.message(), "Invalid type in registry key 'LogFilePath'");
    EXPECT_EQ(loaded, g);

    registry::write_text(product(), "LogFilePath", "");
    registry::write_text(*set_key("Nightly"), "StartTime", "36000");
    e = error_of([&] { loaded.load(); });
    EXPECT_STREQ(e.message(), "Invalid type in registry key 'StartTime'");
    EXPECT_EQ(loaded.backup_sets().size(), 1u);
}

TEST_F(Settings, MissingKeysFailWithTheirCategories) {
    BackupSet s;
    MyError e = error_of([&] { s.load("Nowhere"); });
    EXPECT_EQ(e.code(), NOT_FOUND);
    EXPECT_STREQ(e.message(), "Registry path not found");

    registry::open_key(Root::LocalMachine, "software\\Brindlecore")->delete_subkey("Vardel");
    GeneralSettings g;
    e = error_of([&] { g.load(); });
    EXPECT_EQ(e.code(), OPERATION_FAILED);
    EXPECT_STREQ(e.message(), "Registry path not found");
    e = error_of([&] { g.save(); });
    EXPECT_EQ(e.code(), OPERATION_FAILED);
    EXPECT_STREQ(e.message(), "Registry path not found");
    EXPECT_FALSE(registry::open_key(Root::LocalMachine, kProductKey));  // a save does not install
}

TEST_F(Settings, AFailingSaveWritesNothing) {
    GeneralSettings g;
    g.CycleLogDays = 9;
    g.backup_sets().add(named("Kept"));
    g.save();

    GeneralSettings bad = g;
    bad.CycleLogDays = 10;
    bad.EncodingPassword = "gr\xc3\xbc\xc3\x9f";
    MyError e = error_of([&] { bad.save(); });
    EXPECT_EQ(e.code(), INVALID_PARAMETERS);
    EXPECT_STREQ(e.message(), "Password contains characters that cannot be stored");

    // A set name that is no single key fails after the general values went
    // in: the transaction takes them back.
    bad = g;
    bad.CycleLogDays = 11;
    bad.backup_sets().add(named("a\\b"));
    e = error_of([&] { bad.save(); });
    EXPECT_EQ(e.code(), OPERATION_FAILED);
    EXPECT_STREQ(e.message(), "Registry path not found");

    GeneralSettings back;
    back.load();
    EXPECT_EQ(back, g);
}

TEST_F(Settings, ANameTableGivesEachStoredNumberItsName) {
    const SettingField<BackupSet>* f = find_field(BackupSet::fields(), "intervaltype");
    ASSERT_TRUE(f && f->names);
    EXPECT_STREQ(f->names->name(INTERVAL_ON_LOGOFF), "On Logoff");
    EXPECT_EQ(f->names->name(6), nullptr);
    EXPECT_EQ(setting_names::kSaveFormats.index_of("zip FILE"), SAVE_ZIP);
    EXPECT_EQ(setting_names::kWeekdays.size(), 7u);
    EXPECT_STREQ(setting_names::kWeekdays.name(6), "Sunday");
    EXPECT_STREQ(find_field(GeneralSettings::fields(), "ClickAction")->names->name(3),
                 "Show Status");
    EXPECT_STREQ(find_field(BackupSet::fields(), "BackuDestinationType")->names->name(1),
                 "Directory");
}

// The editor saves over and over while the service loads over and over, in
// two processes: every load is one whole save, never a mix.
TEST_F(Settings, AReaderInAnotherProcessSeesTheOldSettingsOrTheNewNeverAMix) {
    GeneralSettings a, b;
    fill(a, 1);
    fill(b, 2);
    for (int n = 0; n < 3; ++n) a.backup_sets().add(named("A" + std::to_string(n)));
    for (int n = 0; n < 14; ++n) {
        auto s = named(strprintf("B%02d", n));  // the store's order
        fill(*s, n);
        b.backup_sets().add(std::move(s));
    }
    a.save();

    test::BackgroundProcess editor([&] {
        for (int n = 0;; ++n) (n % 2 ? a : b).save();
        return 0;
    });
    int seen_a = 0, seen_b = 0, loads = 0;
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((loads < 200 || seen_a < 3 || seen_b < 3) &&
           std::chrono::steady_clock::now() < give_up) {
        GeneralSettings got;
        got.load();
        ++loads;
        if (got == a)
            ++seen_a;
        else if (got == b)
            ++seen_b;
        else
            FAIL() << "load " << loads << " saw a mix of two saves";
    }
    editor.signal(SIGKILL);
    EXPECT_GT(seen_a, 0);
    EXPECT_GT(seen_b, 0);
}

TEST(BackupSetTableTest, AddByNameReplacesInPlaceOrFillsTheFirstEmptySlot) {
    BackupSetTable t;
    for (const char* n : {"Nightly", "Weekly", "Monthly"}) t.add(named(n));
    auto repl = named("WEEKLY");
    repl->CyclesToSave = 9;
    t.add_by_name(std::move(repl));
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[1].Name, "WEEKLY");
    EXPECT_EQ(t[1].CyclesToSave, 9);
    t.add_by_name(named("Yearly"));
    EXPECT_EQ(t[3].Name, "Yearly");
    EXPECT_EQ(t.index_of("yearly"), 3u);

    t.remove(1);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[1].Name, "Monthly");
    EXPECT_EQ(t[2].Name, "Yearly");
    EXPECT_EQ(t.slot(3), nullptr);

    BackupSetTable copy = t;
    copy[0].Name = "Changed";
    EXPECT_EQ(t[0].Name, "Nightly");
    std::vector<std::string> names;
    for (const BackupSet& s : t) names.push_back(s.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"Nightly", "Monthly", "Yearly"}));
}

}  // namespace
}  // namespace vardel
