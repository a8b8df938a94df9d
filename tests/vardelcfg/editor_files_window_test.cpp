// The window's settings files, logs and backups, driven as a user does:
// menus, file dialogs answered, the tree's two branches read.
#include <gtest/gtest.h>
#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QTreeWidget>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "common/registry.h"
#include "common/suite_names.h"
#include "platform/named_event.h"
#include "tests/support/qt_support.h"
#include "tests/support/scratch.h"
#include "vardelcfg/ui/editor_window.h"

namespace vardel {
namespace {

class EditorFilesWindow : public test::ScratchTest {
  protected:
    void SetUp() override {
        test::ScratchTest::SetUp();
        // The file dialogs keep their history in the user's Qt settings: a
        // folder of the test's own, so no test reads another's (or the
        // machine's) vanished folders.
        const char* config = std::getenv("XDG_CONFIG_HOME");
        saved_config_ = config ? std::optional<std::string>(config) : std::nullopt;
        setenv("XDG_CONFIG_HOME", path("config").c_str(), 1);
        store_ = registry::current_store(registry::Transaction::Mode::Write);
        auto product = registry::create_key(store_, registry::Root::LocalMachine, kProductKey);
        registry::write_number(*product, kCurrentCycleValue, 0);
        write_file("logs/LOG_0.txt", "INFO      started\r\n");
        write_file("dest/BACKUP.INI", "\r\n[BACKUPSET]\r\nBACKUPINSTANCE_1_1=1700000000\r\n");
        GeneralSettings g;
        g.LogFilePath = path("logs");
        g.KeepNLogs = 3;
        auto set = std::make_unique<BackupSet>();
        set->Name = "Nightly";
        set->BackupDestination = path("dest");
        g.backup_sets().add(std::move(set));
        g.save(store_);
    }
    void TearDown() override {
        window_.reset();
        state_.reset();
        if (saved_config_)
            setenv("XDG_CONFIG_HOME", saved_config_->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        test::ScratchTest::TearDown();
    }
    EditorWindow& open() {
        GeneralSettings g;
        g.load(store_);
        reload_ = std::make_unique<platform::NamedEvent>(kReloadEventName);
        state_ = std::make_unique<EditorState>(
            std::move(g), EditorState::Options{store_, scratch(), false, reload_.get()});
        window_ = std::make_unique<EditorWindow>(*state_);
        window_->show();
        return *window_;
    }
    // Runs a menu command whose file dialog is answered with `file`.
    void run_with_file(const char* command, const std::string& file) {
        test::on_next_modal([file](QWidget* w) {
            // Typed, as a user does: selectFile() leaves a focused name field
            // as it is.
            auto* name = w->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!qobject_cast<QFileDialog*>(w) || !name) {
                ADD_FAILURE() << "not a file dialog: " << w->metaObject()->className();
                w->close();
                return;
            }
            name->setText(QString::fromStdString(file));
            QMetaObject::invokeMethod(w, "accept");
        });
        window_->action(QString::fromLatin1(command))->trigger();
    }
    static std::vector<std::string> texts(QTreeWidgetItem* root) {
        std::vector<std::string> out;
        for (int i = 0; i < root->childCount(); ++i)
            out.push_back(root->child(i)->text(0).toStdString());
        return out;
    }

    std::optional<std::string> saved_config_;
    registry::Store store_;
    std::unique_ptr<platform::NamedEvent> reload_;
    std::unique_ptr<EditorState> state_;
    std::unique_ptr<EditorWindow> window_;
};

TEST_F(EditorFilesWindow, TheBranchesShowTheLogsAndBackupsAndFollowTheirCommands) {
    EditorWindow& w = open();
    std::vector<std::string> logs = texts(w.logs_root());
    ASSERT_EQ(logs.size(), 3u);
    EXPECT_TRUE(logs[0].starts_with("Log 0: to ")) << logs[0];
    EXPECT_EQ(logs[1], "Log 1: (not found)");
    QTreeWidgetItem* nightly = w.backups_root()->child(0);
    ASSERT_TRUE(nightly);
    EXPECT_EQ(nightly->text(0), "Nightly");
    EXPECT_EQ(nightly->child(0)->text(0), "Cycle 1");
    EXPECT_TRUE(nightly->child(0)->child(0)->text(0).startsWith("Instance 1 as of "));

    // Fewer logs kept (typed on the page, not yet saved), then cycled: the
    // extra items go.
    w.state().edit_control(PAGE_LOGS, "KeepNLogs", int32_t{1});
    w.action("&Cycle Logs Now")->trigger();
    EXPECT_EQ(texts(w.logs_root()).size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(path("logs/LOG_0.txt")));
}

TEST_F(EditorFilesWindow, SetsGoOutAndComeInThroughTheMenus) {
    EditorWindow& w = open();
    run_with_file("&Export ALL Sets", path("all.BST"));
    EXPECT_TRUE(read_file(path("all.BST")).starts_with("[Nightly]\r\n"));

    write_file("more.BST", "[Weekly]\nBackupDestination=\"" + path("dest") + "\"\n");
    run_with_file("&Import a Set", path("more.BST"));
    QTreeWidgetItem* sets = w.tree()->topLevelItem(1);
    ASSERT_EQ(sets->childCount(), 2);
    EXPECT_EQ(sets->child(1)->text(0), "Weekly");
    EXPECT_EQ(w.backups_root()->childCount(), 2);  // filled again
    EXPECT_TRUE(w.state().modified());
}

}  // namespace
}  // namespace vardel
