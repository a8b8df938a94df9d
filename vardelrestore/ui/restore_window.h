#pragma once
// "Backup Extractor": the tree of sets, cycles and saved backups on the
// left, every saved version of the loaded backups on the right, and the
// commands to load, view, select and extract them. Loading runs on a worker
// thread while the window is busy (input refused, the wait cursor shown);
// extraction runs under the modal progress dialog. GUI thread only.
#include <QMainWindow>
#include <atomic>
#include <optional>
#include <thread>

#include "common/set_lock.h"
#include "vardelrestore/catalogue.h"
#include "vardelrestore/extractor.h"
#include "vardelrestore/version_list.h"
#include "vardelrestore/version_table.h"

class QAction;
class QLabel;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;

namespace vardel {

class VersionModel;
class WindowUi;

class RestoreWindow : public QMainWindow {
    Q_OBJECT
  public:
    // Shows the sets of `sets` whose destinations hold a "BACKUP.INI".
    explicit RestoreWindow(const BackupSetTable& sets, QWidget* parent = nullptr);
    ~RestoreWindow() override;

    // "Add Backup Set to List" for a file chosen elsewhere (a .SAF file's
    // folder): false after telling why when it is not usable. Selects the
    // new set's node of `cycle`/`save` when given.
    bool add_set_from_ini(const QString& ini, int cycle = 0, int save = 0);
    // A backup file given to the program ("B2_3.SAF"): the set of its folder
    // is shown (added when the tree lacks it) and that backup selected.
    void open_archive_file(const QString& file);

    // The commands, by their numbers (tests and the menus use them).
    QAction* command(int id) const;
    const Catalogue& catalogue() const { return catalogue_; }
    const VersionList& list() const { return list_; }
    bool busy() const { return busy_; }
    // The node the tree shows as current, if any.
    std::optional<size_t> current() const { return current_; }
    void select_node(size_t node);

  signals:
    // A load has ended and the window is ready again.
    void load_finished();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void build_menus_and_toolbar();
    QTreeWidgetItem* add_tree_nodes(size_t from);
    void node_selected();
    void open_set(bool single);
    void close_set();
    void add_set();
    void extract();
    void view_from_menu(int id);
    void view_from_toolbar(int id);
    // Menu checks and toolbar buttons from the view options.
    void show_view();
    void rebuild_list();
    void select_rows(int id);
    void set_busy(bool busy);
    void set_activity(const QString& text);
    void update_status();
    void load_done();
    std::vector<uint32_t> chosen_records() const;

    Catalogue catalogue_;
    VersionTable table_;
    VersionList list_;
    std::optional<SetLock> lock_;
    std::optional<size_t> current_;
    std::optional<size_t> loaded_;  // the node whose backups the list shows
    ViewOptions view_;
    ExtractOptions extract_options_;
    bool busy_ = false;
    std::thread loader_;
    std::unique_ptr<WindowUi> loader_ui_;

    QTreeWidget* tree_;
    QTableView* table_view_;
    VersionModel* model_;
    QLabel* status_[5];
    std::map<int, QAction*> commands_;
    std::map<int, QAction*> toolbar_views_;
};

// The program's window mode: runs the event loop; `saf_file`, when given,
// is opened as "Add Backup Set to List" does with the BACKUP.INI beside it.
int run_restore_window(int& argc, char** argv, const std::string& saf_file);

}  // namespace vardel
