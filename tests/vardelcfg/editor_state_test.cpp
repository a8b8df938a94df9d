#include "vardelcfg/editor_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "common/my_error.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "platform/named_event.h"
#include "tests/support/scratch.h"

namespace vardel {
namespace {

using registry::Root;
using Outcome = EditorState::SaveResult::Outcome;

// Counts what the window would be told.
struct Recorder : EditorState::Listener {
    int apply_on = -1;
    int selected = -2;
    std::vector<size_t> renamed;
    void apply_changed(bool on) override { apply_on = on; }
    void set_item_selected(int set) override { selected = set; }
    void set_item_text_changed(size_t set) override { renamed.push_back(set); }
};

class Editor : public test::ScratchTest {
  protected:
    void SetUp() override {
        test::ScratchTest::SetUp();
        // A store of the test's own, apart from the one VARDEL_ROOT names.
        store_ = platform::RegistryStore::open(path("editor.db"), platform::StoreScope::PerUser);
        ASSERT_TRUE(registry::create_key(store_, Root::LocalMachine, kProductKey));
        reload_ = std::make_unique<platform::NamedEvent>(kReloadEventName);
        watcher_ = std::make_unique<platform::NamedEvent>(kReloadEventName);
    }

    void add_stored_set(const std::string& name) {
        auto key = registry::create_key(store_, Root::LocalMachine,
                                        registry::join_path(kBackupSetsKey, name));
        registry::write_text(*key, "BackupDestination", "/backups/" + name);
    }
    bool stored_set(const std::string& name) {
        return registry::open_key(store_, Root::LocalMachine,
                                  registry::join_path(kBackupSetsKey, name))
            .has_value();
    }

    // The editor as the program starts it: settings loaded, page 0 shown.
    EditorState& open(bool read_only = false) {
        GeneralSettings g;
        g.load(store_);
        state_ = std::make_unique<EditorState>(
            std::move(g),
            EditorState::Options{store_, "/var/lib/vardel", read_only, reload_.get()});
        state_->set_listener(&seen_);
        state_->start();
        return *state_;
    }
    bool pulsed() {
        return watcher_->wait(std::chrono::milliseconds(0)) ==
               platform::NamedEvent::WaitResult::Signalled;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> n;
        for (const BackupSet& s : state_->settings().backup_sets()) n.push_back(s.Name);
        return n;
    }

    registry::Store store_;
    Recorder seen_;
    std::unique_ptr<platform::NamedEvent> reload_;
    std::unique_ptr<platform::NamedEvent> watcher_;
    std::unique_ptr<EditorState> state_;
};

TEST_F(Editor, StartsOnLogsWithTheDefaultLogFolderAndNothingModified) {
    EditorState& e = open();
    EXPECT_EQ(e.shown_page(), PAGE_LOGS);
    EXPECT_EQ(e.current_set(), -1);
    EXPECT_FALSE(e.modified());
    EXPECT_FALSE(e.set_commands_enabled());
    EXPECT_EQ(value_text(e.controls(PAGE_LOGS), "LogFilePath"), "/var/lib/vardel/logs/");

    // The data folder is the installation's "DataPath", else the store's own folder.
    EXPECT_EQ(suite_data_path(store_), scratch() + "/");
    auto product = registry::open_key(store_, Root::LocalMachine, kProductKey);
    registry::write_text(*product, kDataPathValue, "/srv/vardel");
    EXPECT_EQ(suite_data_path(store_), "/srv/vardel");
}

TEST_F(Editor, NewSetsTakeTheFirstFreeNewNameWithoutRegardToCase) {
    add_stored_set("<NEW>");
    EditorState& e = open();
    e.new_set();
    e.new_set();
    EXPECT_EQ(names(), (std::vector<std::string>{"<NEW>", "<new 1>", "<new 2>"}));
    EXPECT_EQ(e.current_set(), 2);
    EXPECT_EQ(e.shown_page(), PAGE_BACKUP_TYPE);
    EXPECT_TRUE(e.modified());

    e.choose_set(0);
    e.delete_set();
    e.new_set();
    EXPECT_EQ(names(), (std::vector<std::string>{"<new 1>", "<new 2>", "<new>"}));
}

TEST_F(Editor, ACopyIsANewEnabledSetEqualToWhatThePagesShow) {
    add_stored_set("Nightly");
    EditorState& e = open();
    e.choose_set(0, PAGE_SCHEDULING);
    e.edit_control(PAGE_SCHEDULING, "Enabled", false);
    e.edit_control(PAGE_SCHEDULING, "RepeatEvery", std::string("90"));  // not yet stored
    ASSERT_EQ(e.copy_set(), 1u);
    const BackupSet& original = e.settings().backup_sets()[0];
    BackupSet copy = e.settings().backup_sets()[1];
    EXPECT_EQ(copy.Name, "<new>");
    EXPECT_TRUE(copy.Enabled);
    EXPECT_EQ(copy.RepeatEvery, 5400);
    copy.Name = original.Name;
    copy.Enabled = original.Enabled;
    EXPECT_EQ(copy, original);
    EXPECT_EQ(e.shown_page(), PAGE_SCHEDULING);  // the set page stays
}

TEST_F(Editor, DeletingTheOnlySetLeavesNoneCurrentAndTheSaveEmptiesTheSetsKey) {
    add_stored_set("Nightly");
    EditorState& e = open();
    e.choose_set(0);
    ASSERT_TRUE(e.delete_set());
    EXPECT_EQ(e.current_set(), -1);
    EXPECT_EQ(seen_.selected, -1);
    EXPECT_TRUE(e.modified());
    EXPECT_TRUE(stored_set("Nightly"));  // until the save
    EXPECT_EQ(e.apply().outcome, Outcome::Written);
    EXPECT_FALSE(stored_set("Nightly"));
    EXPECT_TRUE(pulsed());
    EXPECT_FALSE(e.delete_set());  // none current: nothing happens
}

TEST_F(Editor, ASaveWritesAndPulsesOnlyWhenSomethingChanged) {
    add_stored_set("Nightly");
    EditorState& e = open();
    e.choose_set(0, PAGE_ACTIONS);
    e.edit_control(PAGE_ACTIONS, "ExecuteOnSuccess", std::string("/usr/bin/true"));
    EXPECT_EQ(seen_.apply_on, 1);
    EXPECT_EQ(e.apply().outcome, Outcome::Written);
    EXPECT_EQ(seen_.apply_on, 0);
    EXPECT_TRUE(pulsed());
    GeneralSettings back;
    back.load(store_);
    EXPECT_EQ(back.backup_sets()[0].ExecuteOnSuccess, "/usr/bin/true");

    // OK right after Apply: a set added behind the editor's back survives,
    // so nothing was written, and nothing was pulsed.
    add_stored_set("Outsider");
    EXPECT_EQ(e.apply().outcome, Outcome::NothingToWrite);
    EXPECT_TRUE(stored_set("Outsider"));
    EXPECT_FALSE(pulsed());
}

TEST_F(Editor, NamesOnlyDifferingInCaseAreNotTakenAndBadNamesAreNeverSaved) {
    add_stored_set("Nightly");
    add_stored_set("Weekly");
    EditorState& e = open();
    e.choose_set(0);
    e.edit_control(PAGE_BACKUP_TYPE, "Name", std::string("NIGHTLY"));
    EXPECT_FALSE(e.leave_set_name());
    EXPECT_EQ(e.item_text(0), "Nightly");
    e.apply();
    EXPECT_EQ(names()[0], "Nightly");
    EXPECT_TRUE(pulsed());

    e.edit_control(PAGE_BACKUP_TYPE, "Name", std::string("Every night"));
    EXPECT_FALSE(e.leave_set_name());
    EXPECT_EQ(e.item_text(0), "Every night");
    EXPECT_EQ(seen_.renamed, (std::vector<size_t>{0}));

    // Left as a duplicate, the field is refused and the tree keeps its text;
    // saved as one, nothing is written and the set is named.
    e.edit_control(PAGE_BACKUP_TYPE, "Name", std::string("weekly"));
    EXPECT_EQ(*e.leave_set_name(), "There is already a Backup Set named 'Weekly'");
    EXPECT_EQ(e.item_text(0), "Every night");
    EditorState::SaveResult r = e.apply();
    EXPECT_EQ(r.outcome, Outcome::InvalidName);
    EXPECT_TRUE(e.modified());
    EXPECT_TRUE(stored_set("Nightly"));
    EXPECT_FALSE(pulsed());

    e.edit_control(PAGE_BACKUP_TYPE, "Name", std::string("a/b"));
    EXPECT_TRUE(e.leave_set_name());
    EXPECT_EQ(e.apply().outcome, Outcome::InvalidName);
    EXPECT_TRUE(stored_set("Nightly"));
}

TEST_F(Editor, FieldRulesApplyOnLeavingAndOnStore) {
    EditorState& e = open();
    e.edit_control(PAGE_LOGS, "KeepNLogs", 0);
    EXPECT_FALSE(e.leave_number(PAGE_LOGS, "KeepNLogs"));  // 0 is in range...
    e.edit_control(PAGE_LOGS, "CycleLogDays", 400);
    EXPECT_EQ(e.leave_number(PAGE_LOGS, "CycleLogDays"), 365);
    e.apply();
    GeneralSettings back;
    back.load(store_);
    EXPECT_EQ(back.KeepNLogs, 1);  // ...but stored as 1
    EXPECT_EQ(back.CycleLogDays, 365);
    EXPECT_EQ(back.LogFilePath, "/var/lib/vardel/logs/");

    e.new_set();
    e.show_page(PAGE_SCHEDULING);
    e.edit_control(PAGE_SCHEDULING, "RepeatEvery", std::string("every hour"));
    EXPECT_FALSE(e.leave_repeat());
    e.flip_month_day(31);
    e.edit_control(PAGE_SCHEDULING, "IntervalDays", std::string("+-+----"));
    // Saved before the field was left: refused, not stored as some number.
    EXPECT_EQ(e.apply().outcome, Outcome::InvalidRepeat);
    e.edit_control(PAGE_SCHEDULING, "RepeatEvery", std::string("1:5"));
    EXPECT_EQ(e.apply().outcome, Outcome::Written);
    back.load(store_);
    EXPECT_EQ(back.backup_sets()[0].MonthList, std::string(30, '-') + "+");
    EXPECT_EQ(back.backup_sets()[0].IntervalDays, "+ +    ");
    EXPECT_EQ(back.backup_sets()[0].RepeatEvery, 3900);
}

TEST_F(Editor, SetsAndPagesStepAroundAndWrap) {
    for (const char* n : {"A", "B", "C"}) add_stored_set(n);
    EditorState& e = open();
    e.previous_set();  // before "none" is the last
    EXPECT_EQ(e.current_set(), 2);
    EXPECT_EQ(e.shown_page(), PAGE_BACKUP_TYPE);
    EXPECT_TRUE(e.set_commands_enabled());
    e.next_set();
    EXPECT_EQ(e.current_set(), 0);
    e.step_page(-1);
    EXPECT_EQ(e.shown_page(), PAGE_ACTIONS);
    e.next_set();
    EXPECT_EQ(e.shown_page(), PAGE_ACTIONS);  // the set page is kept
    EXPECT_EQ(seen_.selected, 1);
    e.show_page(PAGE_SERVERS);
    EXPECT_FALSE(e.set_commands_enabled());
    EXPECT_FALSE(e.modified());  // looking around changes nothing
}

TEST_F(Editor, AReadOnlyStoreIsNeverWrittenAndSaysSo) {
    add_stored_set("Nightly");
    EditorState& e = open(/*read_only=*/true);
    e.choose_set(0);
    e.edit_control(PAGE_BACKUP_TYPE, "CyclesToSave", 9);
    EXPECT_EQ(e.apply().outcome, Outcome::ReadOnly);
    EXPECT_TRUE(e.modified());
    EXPECT_FALSE(pulsed());
}

TEST_F(Editor, ADestinationOnAShareWarnsUntilSwitchedOff) {
    add_stored_set("Nightly");
    EditorState& e = open();
    e.choose_set(0, PAGE_DESTINATION);
    std::vector<platform::MountEntry> mounts = {{"/", "/mnt/nas", "cifs", "//nas/b"}};
    e.edit_control(PAGE_DESTINATION, "BackupDestination", std::string("/mnt/nas/pc"));
    DestinationCheck c = e.leave_destination(mounts);
    EXPECT_FALSE(e.warning_switched_off(c));
    e.switch_warning_off(c);
    EXPECT_TRUE(e.warning_switched_off(c));
    e.take_destination(c);
    EXPECT_EQ(value_text(e.controls(PAGE_DESTINATION), "BackupDestination"), "//nas/b/pc");
    EXPECT_EQ(e.settings().backup_sets()[0].BackupDestination, "//nas/b/pc");
    e.apply();
    GeneralSettings back;
    back.load(store_);
    EXPECT_EQ(back.backup_sets()[0].BackuDestinationType, DESTINATION_DIRECTORY);
}

}  // namespace
}  // namespace vardel
