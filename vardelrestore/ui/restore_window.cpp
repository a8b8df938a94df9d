#include "vardelrestore/ui/restore_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QTreeWidget>

#include "common/general_settings.h"
#include "common/suite_names.h"
#include "gui/about_box.h"
#include "gui/guarded_application.h"
#include "gui/help_opener.h"
#include "gui/icons.h"
#include "gui/message_box.h"
#include "gui/saved_placement.h"
#include "vardelrestore/backup_loader.h"
#include "vardelrestore/ui/extract_dialog.h"
#include "vardelrestore/ui/progress_dialog.h"
#include "vardelrestore/ui/version_model.h"
#include "vardelrestore/ui/window_ui.h"

static void init_restore_icons() {
    Q_INIT_RESOURCE(restore_icons);
}

namespace vardel {

namespace {

enum Command {
    kAbout = 40001,
    kOpen = 40002,
    kAdd = 40008,
    kClose = 40009,
    kExit = 40010,
    kSelectAll = 40011,
    kSelectNone = 40012,
    kInvert = 40013,
    kNewest = 40014,
    kDocumentation = 40015,
    kLatestOnly = 40022,
    kByFilename = 40023,
    kByPathname = 40024,
    kBySave = 40025,
    kExtract = 40026,
    kOpenSingle = 40029,
};

constexpr int kNodeRole = Qt::UserRole + 1;
// Where the status bar's parts end, from the left.
constexpr int kStatusWidths[] = {250, 100, 150, 100};

QIcon toolbar_icon(const char* name) {
    static const bool once = (init_restore_icons(), true);
    (void)once;
    return gui::icon(QStringLiteral(":/vardelrestore/%1.svg").arg(name));
}

}  // namespace

RestoreWindow::RestoreWindow(const BackupSetTable& sets, QWidget* parent) : QMainWindow(parent) {
    setObjectName("101");
    setWindowTitle("Backup Extractor");
    setWindowIcon(gui::suite_icon());
    resize(940, 560);

    tree_ = new QTreeWidget;
    tree_->setObjectName("1009");
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    tree_->setMinimumWidth(220);
    // Long labels ("Save 3, as of  Sun Jan 05 2025 14:03:09") scroll rather than clip.
    tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tree_->header()->setStretchLastSection(false);
    model_ = new VersionModel(this);
    table_view_ = new QTableView;
    table_view_->setObjectName("1000");
    table_view_->setModel(model_);
    table_view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_view_->setShowGrid(true);
    table_view_->setWordWrap(false);
    table_view_->verticalHeader()->hide();
    table_view_->verticalHeader()->setDefaultSectionSize(table_view_->fontMetrics().height() + 6);
    table_view_->horizontalHeader()->setDefaultSectionSize(100);
    table_view_->horizontalHeader()->setStretchLastSection(false);
    table_view_->setColumnHidden(VersionList::kIndex, true);

    auto* split = new QSplitter;
    split->addWidget(tree_);
    split->addWidget(table_view_);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({330, 610});
    split->setChildrenCollapsible(false);
    setCentralWidget(split);

    for (int i = 0; i < 5; ++i) {
        status_[i] = new QLabel;
        status_[i]->setObjectName(QStringLiteral("status%1").arg(i));
        if (i < 4) status_[i]->setFixedWidth(kStatusWidths[i]);
        statusBar()->addWidget(status_[i], i == 4 ? 1 : 0);
    }
    build_menus_and_toolbar();

    catalogue_.build(sets);
    add_tree_nodes(0);
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            gui::guard(this, [this] { node_selected(); }));
    connect(tree_, &QTreeWidget::itemDoubleClicked, this,
            gui::guard(this, [this] { open_set(false); }));
    node_selected();
    set_activity("Ready");
    gui::restore_placement(*this, kRestoreProgram);
    // While busy, input to any part of the window goes nowhere.
    qApp->installEventFilter(this);
}

RestoreWindow::~RestoreWindow() {
    qApp->removeEventFilter(this);
    if (loader_.joinable()) loader_.join();
}

void RestoreWindow::build_menus_and_toolbar() {
    auto add = [this](QMenu* menu, int id, const char* text, auto slot) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QString::number(id));
        connect(a, &QAction::triggered, this, gui::guard(this, slot));
        commands_[id] = a;
        return a;
    };
    QMenu* file = menuBar()->addMenu("&File");
    add(file, kOpen, "&Open Backup Set", [this] { open_set(false); });
    add(file, kOpenSingle, "Open &Single Backup", [this] { open_set(true); });
    add(file, kClose, "&Close Backup Set", [this] { close_set(); });
    add(file, kAdd, "&Add Backup Set to List", [this] { add_set(); });
    file->addSeparator();
    add(file, kExtract, "&Extract Files", [this] { extract(); });
    file->addSeparator();
    add(file, kExit, "E&xit", [this] { close(); });

    QMenu* view = menuBar()->addMenu("&View");
    add(view, kLatestOnly, "&Latest version Only", [this] { view_from_menu(kLatestOnly); });
    view->addSeparator();
    add(view, kByFilename, "Sort by &Filename", [this] { view_from_menu(kByFilename); });
    add(view, kByPathname, "Sort by &Pathname", [this] { view_from_menu(kByPathname); });
    add(view, kBySave, "Sort by &Save", [this] { view_from_menu(kBySave); });
    for (int id : {kLatestOnly, kByFilename, kByPathname, kBySave})
        commands_[id]->setCheckable(true);

    QMenu* select = menuBar()->addMenu("&Select");
    add(select, kSelectAll, "&All", [this] { select_rows(kSelectAll); });
    add(select, kSelectNone, "&None", [this] { select_rows(kSelectNone); });
    add(select, kInvert, "&Invert", [this] { select_rows(kInvert); });
    add(select, kNewest, "N&ewest Files", [this] { select_rows(kNewest); });

    QMenu* help = menuBar()->addMenu("&Help");
    add(help, kAbout, "&About", [this] { gui::show_about_box(this, "Backup Extractor"); });
    add(help, kDocumentation, "&Documentation", [this] { gui::HelpOpener().open(this); });

    QToolBar* bar = addToolBar("Toolbar");
    bar->setObjectName("104");
    bar->setMovable(false);
    bar->setIconSize(QSize(20, 20));
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    auto button = [&](QAction* a, const char* icon) {
        a->setIcon(toolbar_icon(icon));
        bar->addAction(a);
    };
    button(commands_[kOpen], "open");
    button(commands_[kOpenSingle], "open_single");
    button(commands_[kExtract], "extract");
    // The view buttons are their own actions, mirrored with the menu's.
    auto view_button = [&](int id, const char* icon, const char* tip) {
        auto* a = new QAction(toolbar_icon(icon), tip, this);
        a->setObjectName(QStringLiteral("toolbar%1").arg(id));
        a->setCheckable(true);
        connect(a, &QAction::triggered, this,
                gui::guard(this, [this, id] { view_from_toolbar(id); }));
        toolbar_views_[id] = a;
        bar->addAction(a);
    };
    view_button(kLatestOnly, "latest", "Latest version Only");
    bar->addSeparator();
    view_button(kByFilename, "sort_filename", "Sort by Filename");
    view_button(kByPathname, "sort_pathname", "Sort by Pathname");
    view_button(kBySave, "sort_save", "Sort by Save");
    for (int id : {kOpen, kOpenSingle, kExtract})
        commands_[id]->setToolTip(commands_[id]->text().remove('&'));
    show_view();  // the initial state: by file name
}

QAction* RestoreWindow::command(int id) const {
    auto it = commands_.find(id);
    return it == commands_.end() ? nullptr : it->second;
}

QTreeWidgetItem* RestoreWindow::add_tree_nodes(size_t from) {
    // Nodes are added a whole set at a time: a parent is always among them.
    QTreeWidgetItem* first = nullptr;
    std::vector<QTreeWidgetItem*> items(catalogue_.size(), nullptr);
    for (size_t i = from; i < catalogue_.size(); ++i) {
        const CatalogueNode& n = catalogue_[i];
        auto* item = new QTreeWidgetItem({QString::fromStdString(n.label())});
        item->setData(0, kNodeRole, QVariant::fromValue<qulonglong>(i));
        if (n.level == CatalogueNode::Set)
            tree_->addTopLevelItem(item);
        else
            items[n.parent]->addChild(item);
        items[i] = item;
        if (!first) first = item;
    }
    return first;
}

void RestoreWindow::select_node(size_t node) {
    QTreeWidgetItemIterator it(tree_);
    for (; *it; ++it) {
        if ((*it)->data(0, kNodeRole).toULongLong() == node) {
            tree_->setCurrentItem(*it);
            tree_->scrollToItem(*it);
            return;
        }
    }
}

void RestoreWindow::node_selected() {
    QTreeWidgetItem* item = tree_->currentItem();
    if (item)
        current_ = static_cast<size_t>(item->data(0, kNodeRole).toULongLong());
    else
        current_.reset();
    const bool backups = current_ && catalogue_[*current_].level != CatalogueNode::Set;
    for (int id : {kOpen, kOpenSingle, kExtract}) commands_[id]->setEnabled(backups);
    update_status();
}

void RestoreWindow::update_status() {
    if (current_) {
        const CatalogueNode& n = catalogue_[*current_];
        status_[0]->setText(QString::fromStdString(n.set_name));
        status_[1]->setText(n.level != CatalogueNode::Set ? QStringLiteral("Cycle %1").arg(n.cycle)
                                                          : QString());
        status_[2]->setText(n.level == CatalogueNode::Save ? QStringLiteral("Save %1").arg(n.save)
                                                           : QString());
    } else {
        for (int i = 0; i < 3; ++i) status_[i]->clear();
    }
    status_[3]->setText(QStringLiteral("%1 lines").arg(model_->rowCount()));
}

void RestoreWindow::set_activity(const QString& text) {
    status_[4]->setText(text);
}

void RestoreWindow::set_busy(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

bool RestoreWindow::eventFilter(QObject* watched, QEvent* event) {
    if (busy_ && watched->isWidgetType() && window() == static_cast<QWidget*>(watched)->window()) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::Wheel:
            case QEvent::Shortcut:
            case QEvent::ShortcutOverride:
                return true;
            default:
                break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void RestoreWindow::open_set(bool single) {
    if (busy_) return;
    if (!current_ || catalogue_[*current_].level == CatalogueNode::Set) {
        gui::beep();
        return;
    }
    set_activity("Loading Backup");
    set_busy(true);
    model_->set_list(nullptr);
    list_.clear();
    loaded_.reset();
    const size_t node = *current_;
    const ViewOptions view = view_;
    loader_ui_ = std::make_unique<WindowUi>(this, nullptr,
                                            [this](const QString& text) { set_activity(text); });
    loader_ = std::thread([this, node, single, view] {
        bool loaded = false;
        try {
            BackupLoader loader(table_, lock_, *loader_ui_);
            loaded = loader.load(catalogue_[node], single) == BackupLoader::Outcome::Loaded;
            if (loaded) {
                loader_ui_->activity("Loading List");
                list_.build(table_, view);
            }
        } catch (const std::exception& e) {
            loader_ui_->message(e.what(), gui::kErrorCaption, MessageKind::Error);
            loaded = false;
        }
        QMetaObject::invokeMethod(
            this,
            [this, node, loaded] {
                if (loaded) loaded_ = node;
                load_done();
            },
            Qt::QueuedConnection);
    });
}

void RestoreWindow::load_done() {
    if (loader_.joinable()) loader_.join();
    loader_ui_.reset();
    model_->set_list(loaded_ ? &list_ : nullptr);
    if (loaded_) {
        table_view_->resizeColumnToContents(VersionList::kFile);
        table_view_->resizeColumnToContents(VersionList::kPath);
        table_view_->resizeColumnToContents(VersionList::kLastModified);
        table_view_->resizeColumnToContents(VersionList::kDateSaved);
        QHeaderView* h = table_view_->horizontalHeader();
        for (int c : {int(VersionList::kSave), int(VersionList::kAction)})
            h->resizeSection(c, h->sectionSizeHint(c));
    }
    update_status();
    set_activity("Ready");
    set_busy(false);
    emit load_finished();
}

void RestoreWindow::close_set() {
    if (busy_) return;
    set_activity("Closing Backup");
    model_->set_list(nullptr);
    list_.clear();
    table_.clear();
    lock_.reset();
    loaded_.reset();
    tree_->setCurrentItem(nullptr);
    tree_->clearSelection();
    node_selected();
    set_activity("Ready");
}

bool RestoreWindow::add_set_from_ini(const QString& ini, int cycle, int save) {
    size_t root = 0;
    const size_t before = catalogue_.size();
    switch (catalogue_.add_from_ini(ini.toStdString(), &root)) {
        case Catalogue::AddResult::Unreadable:
            gui::message_box(this, "Can't load specified INI", "Error!", gui::MessageIcon::Error);
            return false;
        case Catalogue::AddResult::NotABackupIni:
            gui::message_box(this, "Not a valid vardel backup INI, or values are missing", "Error!",
                             gui::MessageIcon::Error);
            return false;
        case Catalogue::AddResult::Added:
            break;
    }
    add_tree_nodes(before);
    std::optional<size_t> node = cycle > 0 ? catalogue_.find(root, cycle, save) : std::nullopt;
    select_node(node.value_or(root));
    return true;
}

void RestoreWindow::open_archive_file(const QString& file) {
    QFileInfo saf(file);
    // "B<cycle>_<n>.SAF" names the backup to show.
    auto m = QRegularExpression("^B(\\d+)_(\\d+)\\.SAF$", QRegularExpression::CaseInsensitiveOption)
                 .match(saf.fileName());
    const int cycle = m.hasMatch() ? m.captured(1).toInt() : 0;
    const int save = m.hasMatch() ? m.captured(2).toInt() : 0;
    // A set the tree shows already is not added a second time.
    const QString folder = saf.absoluteDir().canonicalPath();
    for (size_t i = 0; i < catalogue_.size(); ++i) {
        const CatalogueNode& n = catalogue_[i];
        if (n.level != CatalogueNode::Set ||
            QDir(QString::fromStdString(n.destination)).canonicalPath() != folder)
            continue;
        std::optional<size_t> node = cycle > 0 ? catalogue_.find(i, cycle, save) : std::nullopt;
        select_node(node.value_or(i));
        return;
    }
    add_set_from_ini(saf.absoluteDir().filePath("BACKUP.INI"), cycle, save);
}

void RestoreWindow::add_set() {
    if (busy_) return;
    set_activity("Add a backup");
    QString file = QFileDialog::getOpenFileName(this, "Select file to load from", QString(),
                                                "Backup INI (*.INI *.ini)");
    if (!file.isEmpty()) add_set_from_ini(file);
    set_activity("Ready");
}

std::vector<uint32_t> RestoreWindow::chosen_records() const {
    std::vector<uint32_t> records;
    QModelIndexList rows = table_view_->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        records.reserve(list_.size());
        for (size_t r = 0; r < list_.size() && model_->list(); ++r)
            records.push_back(list_.record_index(r));
        return records;
    }
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& i : rows) records.push_back(list_.record_index(i.row()));
    return records;
}

void RestoreWindow::extract() {
    if (busy_) return;
    if (!current_ || catalogue_[*current_].level == CatalogueNode::Set) {
        gui::beep();
        return;
    }
    // What is extracted is what was loaded, whatever the tree shows now.
    const CatalogueNode& node = catalogue_[loaded_.value_or(*current_)];
    std::vector<uint32_t> records = loaded_ ? chosen_records() : std::vector<uint32_t>{};
    std::vector<std::string_view> paths;
    paths.reserve(records.size());
    for (uint32_t r : records) paths.push_back(table_[r].path);
    ExtractDialog dialog(paths, node.encoded, extract_options_, this);
    if (dialog.exec() != QDialog::Accepted) return;
    extract_options_ = dialog.options();

    set_activity("Extracting");
    ProgressDialog progress(this);
    WindowUi ui(&progress, [&progress](const QString& path) { progress.show_item(path); });
    size_t failed = 0;
    bool completed = progress.run([&] {
        Extractor extractor(node, table_, extract_options_, ui, progress.stop());
        bool ok = extractor.run(records);
        failed = extractor.failed_items();
        return ok;
    });
    set_activity("Ready");
    if (!completed) {
        gui::message_box(this, "Copy aborted", "Copy Results", gui::MessageIcon::Error);
    } else if (failed > 0) {
        gui::message_box(this,
                         QStringLiteral("Copy completed\n%1 item(s) could not be extracted, as "
                                        "the messages before said.")
                             .arg(failed),
                         "Copy Results", gui::MessageIcon::Warning);
    } else {
        gui::message_box(this, "Copy completed", "Copy Results", gui::MessageIcon::Information);
    }
}

void RestoreWindow::view_from_menu(int id) {
    switch (id) {
        case kLatestOnly:
            view_.latest_only = !view_.latest_only;
            break;
        case kByFilename:
            view_.by_pathname = false;
            break;
        case kByPathname:
            view_.by_pathname = true;
            break;
        case kBySave:
            view_.by_save = !view_.by_save;
            break;
    }
    show_view();
    rebuild_list();
}

void RestoreWindow::view_from_toolbar(int id) {
    // The toolbar's three sort buttons are one group: one is down.
    switch (id) {
        case kLatestOnly:
            view_.latest_only = toolbar_views_[kLatestOnly]->isChecked();
            break;
        case kByFilename:
            view_.by_pathname = false;
            view_.by_save = false;
            break;
        case kByPathname:
            view_.by_pathname = true;
            view_.by_save = false;
            break;
        case kBySave:
            view_.by_save = true;
            break;
        default:
            break;
    }
    show_view();
    rebuild_list();
}

void RestoreWindow::show_view() {
    toolbar_views_[kLatestOnly]->setChecked(view_.latest_only);
    toolbar_views_[kBySave]->setChecked(view_.by_save);
    toolbar_views_[kByFilename]->setChecked(!view_.by_save && !view_.by_pathname);
    toolbar_views_[kByPathname]->setChecked(!view_.by_save && view_.by_pathname);
    commands_[kLatestOnly]->setChecked(view_.latest_only);
    commands_[kByFilename]->setChecked(!view_.by_pathname);
    commands_[kByPathname]->setChecked(view_.by_pathname);
    commands_[kBySave]->setChecked(view_.by_save);
}

void RestoreWindow::rebuild_list() {
    if (!loaded_ || busy_) return;
    set_activity("Loading List");
    model_->set_list(nullptr);
    list_.build(table_, view_);
    model_->set_list(&list_);
    update_status();
    set_activity("Ready");
}

void RestoreWindow::select_rows(int id) {
    QItemSelectionModel* sel = table_view_->selectionModel();
    const int rows = model_->rowCount();
    auto whole = [&](int first, int last) {
        return QItemSelection(model_->index(first, 0),
                              model_->index(last, VersionList::kColumnCount - 1));
    };
    switch (id) {
        case kSelectAll:
            table_view_->selectAll();
            break;
        case kSelectNone:
            sel->clearSelection();
            break;
        case kInvert:
            if (rows > 0) sel->select(whole(0, rows - 1), QItemSelectionModel::Toggle);
            break;
        case kNewest: {
            sel->clearSelection();
            if (rows == 0) break;
            QItemSelection picked;
            for (size_t r : list_.newest_rows())
                picked.merge(whole(int(r), int(r)), QItemSelectionModel::Select);
            sel->select(picked, QItemSelectionModel::Select);
            break;
        }
    }
}

void RestoreWindow::closeEvent(QCloseEvent* event) {
    if (busy_) {
        event->ignore();
        return;
    }
    gui::save_placement(*this, kRestoreProgram);
    lock_.reset();
    event->accept();
}

int run_restore_window(int& argc, char** argv, const std::string& saf_file) {
    gui::GuardedApplication app(argc, argv, "vardelrestore");
    GeneralSettings settings;
    try {
        settings.load();
    } catch (const std::exception&) {
        gui::message_box(nullptr, "Can't load settings", "Vardel Error", gui::MessageIcon::Error);
        return 1;
    }
    RestoreWindow window(settings.backup_sets());
    window.show();
    if (!saf_file.empty()) window.open_archive_file(QString::fromStdString(saf_file));
    return app.exec();
}

}  // namespace vardel
