#pragma once
// "Vardel Settings": the editor's window. The tree of pages and sets on the
// left, the page shown in a frame captioned with its label on the right, the
// toolbar, the menus and the buttons along the bottom. All it shows is the
// EditorState's; all it does goes through the state's commands, with the
// questions and messages around them. GUI thread only.
#include <QDialog>
#include <array>
#include <memory>

#include "vardelcfg/editor_state.h"
#include "vardelcfg/page_bindings.h"

class QAction;
class QGroupBox;
class QPushButton;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace vardel {

namespace gui {
class HelpOpener;
}
class PageMirror;

class EditorWindow : public QDialog, private EditorState::Listener {
    Q_OBJECT
  public:
    // Builds the window over `state` (which outlives it) and starts the
    // state: "Logs" shown, no set current.
    explicit EditorWindow(EditorState& state, QWidget* parent = nullptr);
    ~EditorWindow() override;

    EditorState& state() { return state_; }
    QTreeWidget* tree() const { return tree_; }
    QWidget* page(int index) const { return pages_[index]; }
    // The tree's roots of the logs and of the backups held at destinations.
    QTreeWidgetItem* logs_root() const { return logs_root_; }
    QTreeWidgetItem* backups_root() const { return backups_root_; }
    // A menu or toolbar command by its menu text ("&New Backup Set").
    QAction* action(const QString& text) const;

    // The commands, as the menus, toolbar and buttons run them.
    void apply_changes();
    void ok();
    void save_settings();
    void exit_editor();
    void new_set();
    void copy_set();
    void delete_set();
    void list_scheduled_items();
    void show_help();
    void show_documentation();

  private:
    // EditorState::Listener
    void page_filled(int page) override;
    void control_changed(int page, const std::string& control) override;
    void page_shown(int page) override;
    void set_item_selected(int set) override;
    void set_added(size_t set) override;
    void set_removed(size_t set) override;
    void set_item_text_changed(size_t set) override;
    void sets_rebuilt() override;
    void apply_changed(bool on) override;

    void build_menus_and_toolbar();
    QWidget* build_buttons();
    void build_tree();
    QTreeWidgetItem* add_set_items(size_t set);
    QTreeWidgetItem* set_item(int set) const;
    void tree_selection_changed();
    void select_item(QTreeWidgetItem* item);
    void control_left(int page, const QString& control);
    void check_destination();
    void browse(int page, const QString& control);
    // What a save said that the user must hear; true when it saved.
    bool saved(const EditorState::SaveResult& result);
    void offer_administrator();
    void focus_name_field();
    void finish(int result, bool store_placement);

    // The parts the settings files, logs and shortcuts bring
    // (editor_file_commands.cpp). The imports return whether they changed
    // the settings; the window then reloads the pages and marks them modified.
    void export_settings();
    bool import_settings();
    void export_all_sets();
    void export_current_set();
    bool import_set();
    void create_shortcut();
    void cycle_logs_now();
    void edit_log();
    // At start: the "Logs" and "Available Backups" roots.
    void fill_logs_and_backups();
    // A root, log or backup item was selected: no page changes.
    void other_item_selected(QTreeWidgetItem* item);
    // A log opens in the desktop's editor, a backup in the restore tool.
    void item_double_clicked(QTreeWidgetItem* item);

    EditorState& state_;
    std::unique_ptr<gui::HelpOpener> help_;
    std::array<QWidget*, kPageCount> pages_{};
    std::unique_ptr<PageMirror> mirror_;
    QTreeWidget* tree_ = nullptr;
    QTreeWidgetItem* general_root_ = nullptr;
    QTreeWidgetItem* sets_root_ = nullptr;
    QTreeWidgetItem* logs_root_ = nullptr;
    QTreeWidgetItem* backups_root_ = nullptr;
    QGroupBox* frame_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QPushButton* apply_button_ = nullptr;
    QPushButton* ok_button_ = nullptr;
    QAction* apply_action_ = nullptr;
    std::vector<QAction*> set_actions_;  // available while a set page is shown
    std::vector<QAction*> actions_;
    bool filling_tree_ = false;
};

}  // namespace vardel
