#include "vardelcfg/ui/editor_window.h"

#include <QAction>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/suite_names.h"
#include "gui/about_box.h"
#include "gui/administrator.h"
#include "gui/guarded_application.h"
#include "gui/help_opener.h"
#include "gui/icons.h"
#include "gui/message_box.h"
#include "gui/path_browser.h"
#include "gui/saved_placement.h"
#include "platform/mount_table.h"
#include "vardelcfg/ui/editor_boxes.h"
#include "vardelcfg/ui/page_mirror.h"
#include "vardelcfg/ui/schedule_dialog.h"
#include "vardelcfg/ui/settings_pages.h"

static void init_vardelcfg_icons() {
    Q_INIT_RESOURCE(vardelcfg_icons);
}

namespace vardel {

namespace {

using gui::MessageAnswer;
using gui::MessageButtons;
using gui::MessageIcon;

constexpr const char* kCaption = "Vardel Settings";
constexpr const char* kInvalidData = "Invalid Data";
// The tree item's page: 0 to 9, or one of these.
constexpr int kSetItem = -1;
constexpr int kOtherItem = -2;

QString q(const char* s) {
    return QString::fromUtf8(s);
}
QString q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

EditorWindow::EditorWindow(EditorState& state, QWidget* parent)
    : QDialog(parent), state_(state), help_(std::make_unique<gui::HelpOpener>()) {
    init_vardelcfg_icons();
    setWindowTitle(state_.read_only() ? q(kCaption) + QStringLiteral(" (read-only)") : q(kCaption));
    setWindowIcon(gui::suite_icon());
    setSizeGripEnabled(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 0, 6, 6);
    build_menus_and_toolbar();

    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("Tree"));
    tree_->setHeaderHidden(true);
    tree_->setMinimumWidth(200);
    frame_ = new QGroupBox(this);
    frame_->setObjectName(QStringLiteral("PageFrame"));
    stack_ = new QStackedWidget(frame_);
    auto* frame_layout = new QVBoxLayout(frame_);
    frame_layout->addWidget(stack_);
    for (int p = 0; p < kPageCount; ++p) {
        pages_[p] = build_page(p, stack_);
        stack_->addWidget(pages_[p]);
    }
    auto* middle = new QHBoxLayout;
    middle->addWidget(tree_, 2);
    middle->addWidget(frame_, 5);
    layout->addLayout(middle, 1);
    layout->addWidget(build_buttons());

    mirror_ = std::make_unique<PageMirror>(state_, pages_);
    connect(mirror_.get(), &PageMirror::control_left, this,
            gui::guard(this,
                       [this](int page, const QString& control) { control_left(page, control); }));
    for (int p = 0; p < kPageCount; ++p) {
        for (QPushButton* b : pages_[p]->findChildren<QPushButton*>()) {
            QString name = b->objectName();
            if (!name.endsWith(QStringLiteral("Browse"))) continue;
            name.chop(6);
            connect(b, &QPushButton::clicked, this,
                    gui::guard(this, [this, p, name] { browse(p, name); }));
        }
    }

    build_tree();
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            gui::guard(this, [this] { tree_selection_changed(); }));
    connect(tree_, &QTreeWidget::itemDoubleClicked, this,
            gui::guard(this, [this](QTreeWidgetItem* item, int) { item_double_clicked(item); }));
    auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
    connect(f1, &QShortcut::activated, this, [this] { show_help(); });

    state_.set_listener(this);
    state_.start();
    fill_logs_and_backups();
    resize(820, 540);
    gui::restore_placement(*this, kEditorProgram);
    ok_button_->setFocus();
}

EditorWindow::~EditorWindow() {
    state_.set_listener(nullptr);
}

QAction* EditorWindow::action(const QString& text) const {
    for (QAction* a : actions_)
        if (a->text() == text) return a;
    return nullptr;
}

void EditorWindow::build_menus_and_toolbar() {
    auto* bar = new QMenuBar(this);
    layout()->setMenuBar(bar);
    auto add = [this](QMenu* menu, const char* text, auto slot) {
        QAction* a = menu->addAction(q(text));
        a->setIconVisibleInMenu(false);
        connect(a, &QAction::triggered, this, gui::guard(this, slot));
        actions_.push_back(a);
        return a;
    };

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    apply_action_ = add(file, "&Apply Changes", [this] { apply_changes(); });
    apply_action_->setEnabled(false);
    add(file, "&Save Settings", [this] { save_settings(); });
    file->addSeparator();
    add(file, "&Export Settings", [this] {
        if (saved(state_.save())) export_settings();
    });
    add(file, "&Import Settings", [this] {
        if (import_settings()) state_.general_replaced();
    });
    file->addSeparator();
    add(file, "E&xit", [this] { exit_editor(); });

    QMenu* sets = bar->addMenu(QStringLiteral("&BackupSets"));
    add(sets, "&Export ALL Sets", [this] { export_all_sets(); });
    QAction* export_current = add(sets, "Export &Current Set", [this] {
        if (state_.current_set() >= 0 && saved(state_.save())) export_current_set();
    });
    add(sets, "&Import a Set", [this] {
        state_.store_pages();
        if (import_set()) state_.sets_replaced();
    });
    sets->addSeparator();
    QAction* new_action = add(sets, "&New Backup Set", [this] { new_set(); });
    add(sets, "&Copy a Backup Set", [this] { copy_set(); });
    QAction* delete_action = add(sets, "&Delete Backup Set", [this] { delete_set(); });
    sets->addSeparator();
    QAction* list = add(sets, "&List Scheduled Items", [this] { list_scheduled_items(); });
    QAction* shortcut = add(sets, "Create Backup &Shortcut", [this] { create_shortcut(); });
    sets->addSeparator();
    QAction* next = add(sets, "Nex&t Backup Set", [this] { state_.next_set(); });
    QAction* previous = add(sets, "&Prev Backup Set", [this] { state_.previous_set(); });

    QMenu* logs = bar->addMenu(QStringLiteral("&Logs"));
    add(logs, "&Cycle Logs Now", [this] { cycle_logs_now(); });
    QAction* edit = add(logs, "&Edit Log", [this] { edit_log(); });

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    add(help, "&About Vardel", [this] { gui::show_about_box(this, q(kCaption)); });
    QAction* documentation = add(help, "&Documentation", [this] { show_documentation(); });
    add(help, "&Contact Us", [this] { build_contact_box(this)->exec(); });
    add(help, "C&redits", [this] { build_credits_box(this)->exec(); });

    set_actions_ = {previous, next, delete_action, shortcut, export_current};

    // The toolbar runs the same commands, each with its own tool tip.
    auto* tools = new QToolBar(this);
    tools->setObjectName(QStringLiteral("ToolBar"));
    tools->setIconSize(QSize(20, 20));
    const std::pair<QAction*, const char*> buttons[] = {
        {apply_action_, "apply"},
        {new_action, "new"},
        {delete_action, "delete"},
        {previous, "previous"},
        {next, "next"},
        {shortcut, "shortcut"},
        {list, "schedule"},
        {documentation, "documentation"},
        {edit, "editlog"},
    };
    const char* const tips[] = {"Apply Changes",
                                "New Backup Set",
                                "Delete Backup Set",
                                "Display previous Backup Set",
                                "Display next Backup Set",
                                "Create a shortcut for current Backup set",
                                "List currently scheduled items",
                                "Display Vardel documentation",
                                "Edit selected or current log"};
    for (size_t i = 0; i < std::size(buttons); ++i) {
        QAction* a = buttons[i].first;
        a->setIcon(gui::icon(QStringLiteral(":/vardelcfg/%1.svg").arg(q(buttons[i].second))));
        a->setToolTip(q(tips[i]));
        tools->addAction(a);
    }
    static_cast<QVBoxLayout*>(layout())->addWidget(tools);
}

QWidget* EditorWindow::build_buttons() {
    auto* row = new QWidget(this);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    auto button = [&](const char* text, auto slot) {
        auto* b = new QPushButton(q(text), row);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, gui::guard(this, slot));
        h->addWidget(b);
        return b;
    };
    button("H&elp", [this] { show_help(); })->setObjectName(QStringLiteral("HelpButton"));
    h->addStretch(1);
    button("<- &Prev", [this] {
        state_.step_page(-1);
    })->setObjectName(QStringLiteral("PrevPageButton"));
    button("&Next ->", [this] {
        state_.step_page(1);
    })->setObjectName(QStringLiteral("NextPageButton"));
    h->addSpacing(16);
    button("Cancel", [this] {
        finish(QDialog::Rejected, false);
    })->setObjectName(QStringLiteral("CancelButton"));
    apply_button_ = button("&Apply", [this] { apply_changes(); });
    apply_button_->setObjectName(QStringLiteral("ApplyButton"));
    apply_button_->setEnabled(false);
    ok_button_ = button("OK", [this] { ok(); });
    ok_button_->setObjectName(QStringLiteral("OkButton"));
    ok_button_->setDefault(true);
    return row;
}

void EditorWindow::build_tree() {
    auto root = [this](const char* label) {
        auto* item = new QTreeWidgetItem(tree_, {q(label)});
        item->setData(0, Qt::UserRole, kOtherItem);
        return item;
    };
    general_root_ = root("General Configuration");
    for (int p = 0; p < kFirstSetPage; ++p) {
        auto* item = new QTreeWidgetItem(general_root_, {q(page_label(p))});
        item->setData(0, Qt::UserRole, p);
    }
    sets_root_ = root("Backup Set Configurations");
    for (size_t s = 0; s < state_.set_count(); ++s) add_set_items(s);
    logs_root_ = root("Logs");
    backups_root_ = root("Available Backups");
    general_root_->setExpanded(true);
    sets_root_->setExpanded(true);
}

QTreeWidgetItem* EditorWindow::add_set_items(size_t set) {
    auto* item = new QTreeWidgetItem({q(state_.item_text(set))});
    item->setData(0, Qt::UserRole, kSetItem);
    sets_root_->insertChild(static_cast<int>(set), item);
    for (int p = kFirstSetPage; p < kPageCount; ++p) {
        auto* child = new QTreeWidgetItem(item, {q(page_label(p))});
        child->setData(0, Qt::UserRole, p);
    }
    return item;
}

QTreeWidgetItem* EditorWindow::set_item(int set) const {
    return set >= 0 && set < sets_root_->childCount() ? sets_root_->child(set) : nullptr;
}

void EditorWindow::select_item(QTreeWidgetItem* item) {
    filling_tree_ = true;
    if (item) {
        tree_->setCurrentItem(item);
    } else {
        tree_->clearSelection();
        tree_->setCurrentItem(nullptr);
    }
    filling_tree_ = false;
}

void EditorWindow::tree_selection_changed() {
    if (filling_tree_) return;
    QTreeWidgetItem* item = tree_->currentItem();
    if (!item) return;
    QTreeWidgetItem* parent = item->parent();
    int page = item->data(0, Qt::UserRole).toInt();
    if (parent == general_root_)
        state_.show_page(page);
    else if (parent == sets_root_)
        state_.choose_set(sets_root_->indexOfChild(item));
    else if (parent && parent->parent() == sets_root_)
        state_.choose_set(sets_root_->indexOfChild(parent), page);
    else
        other_item_selected(item);
}

// EditorState::Listener

void EditorWindow::page_filled(int page) {
    mirror_->fill(page);
    if (is_set_page(page)) pages_[page]->setEnabled(state_.current_set() >= 0);
}

void EditorWindow::control_changed(int page, const std::string& control) {
    mirror_->fill_control(page, control);
}

void EditorWindow::page_shown(int page) {
    stack_->setCurrentIndex(page);
    frame_->setTitle(q(page_label(page)));
    bool set_page = is_set_page(page);
    // Without a current set, a set page has nothing to edit.
    pages_[page]->setEnabled(!set_page || state_.current_set() >= 0);
    if (!set_page)
        select_item(general_root_->child(page));
    else if (QTreeWidgetItem* set = set_item(state_.current_set()))
        select_item(set->child(page - kFirstSetPage));
    for (QAction* a : set_actions_) a->setEnabled(set_page);
}

void EditorWindow::set_item_selected(int set) {
    select_item(set_item(set));
    if (set < 0 && is_set_page(state_.shown_page())) pages_[state_.shown_page()]->setEnabled(false);
}

void EditorWindow::set_added(size_t set) {
    add_set_items(set);
    sets_root_->setExpanded(true);
}

void EditorWindow::set_removed(size_t set) {
    filling_tree_ = true;
    delete sets_root_->takeChild(static_cast<int>(set));
    filling_tree_ = false;
}

void EditorWindow::set_item_text_changed(size_t set) {
    if (QTreeWidgetItem* item = set_item(static_cast<int>(set)))
        item->setText(0, q(state_.item_text(set)));
}

void EditorWindow::sets_rebuilt() {
    filling_tree_ = true;
    while (sets_root_->childCount() > 0) delete sets_root_->takeChild(0);
    for (size_t s = 0; s < state_.set_count(); ++s) add_set_items(s);
    filling_tree_ = false;
}

void EditorWindow::apply_changed(bool on) {
    apply_button_->setEnabled(on);
    apply_action_->setEnabled(on);
}

// Fields checked on leaving.

void EditorWindow::control_left(int page, const QString& control) {
    const PageBinding* b = find_binding(page, control.toStdString());
    if (!b) return;
    QWidget* field = mirror_->control(page, b->control);
    auto refuse = [&](const QString& text) {
        gui::message_box(this, text, q(kInvalidData), MessageIcon::Warning);
        if (field && field->isVisible()) {
            field->setFocus();
            if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->selectAll();
        }
    };
    switch (b->kind) {
        case ControlKind::Number:
            if (state_.leave_number(page, b->control)) gui::beep();
            break;
        case ControlKind::Repeat:
            if (!state_.leave_repeat()) refuse(q(kRepeatInvalid));
            break;
        case ControlKind::SetName:
            if (std::optional<std::string> problem = state_.leave_set_name()) refuse(q(*problem));
            break;
        case ControlKind::Destination:
            check_destination();
            break;
        default:
            break;
    }
}

void EditorWindow::check_destination() {
    DestinationCheck check = state_.leave_destination(platform::MountTable().mounts());
    if (check.warning == DestinationCheck::Warning::None) return;
    if (!state_.warning_switched_off(check)) {
        DestinationWarning warning(this, q(check.text()), help_.get());
        if (warning.exec() == QDialog::Accepted && warning.dont_show_again())
            state_.switch_warning_off(check);
    }
    state_.take_destination(check);
}

void EditorWindow::browse(int page, const QString& control) {
    using gui::PathBrowser;
    const std::string name = control.toStdString();
    const QString current = q(value_text(state_.controls(page), name));
    if (name == "LogFilePath" || name == "BackupDestination") {
        const char* title = name == "LogFilePath" ? "Select Directory for Log Files"
                                                  : "Select Destination Directory for Backup Files";
        std::optional<QString> chosen =
            PathBrowser::choose(this, q(title), PathBrowser::Offers::Folders, current);
        if (!chosen) return;
        state_.edit_control(page, name, chosen->toStdString());
        mirror_->fill_control(page, name);
        // A browsed folder may lie on a mounted share as much as a typed one.
        if (name == "BackupDestination") check_destination();
    } else if (name == "BackupDirs" || name == "ExcludeFiles") {
        const bool include = name == "BackupDirs";
        std::optional<QString> chosen =
            PathBrowser::choose(this,
                                q(include ? "Select Directory/file to backup"
                                          : "Select Directory/file to specifically exclude"),
                                PathBrowser::Offers::FoldersAndFiles);
        if (!chosen) return;
        std::string path = chosen->toStdString();
        if (include) {
            for (const OverlapQuestion& question : state_.include_overlaps(path)) {
                if (gui::message_box(this, q(question.text()), q(kOverlapCaption),
                                     MessageIcon::Question,
                                     MessageButtons::YesNo) != MessageAnswer::Yes)
                    return;
            }
        }
        state_.add_line(page, name, path);
    } else {
        // The hook commands: an existing program, a link taken as itself.
        QString start = current.isEmpty() ? QStringLiteral("/") : current;
        QString chosen =
            QFileDialog::getOpenFileName(this, QStringLiteral("Select executable"), start,
                                         QString(), nullptr, QFileDialog::DontResolveSymlinks);
        if (chosen.isEmpty()) return;
        state_.edit_control(page, name, chosen.toStdString());
        mirror_->fill_control(page, name);
    }
}

// Commands.

bool EditorWindow::saved(const EditorState::SaveResult& result) {
    using Outcome = EditorState::SaveResult::Outcome;
    switch (result.outcome) {
        case Outcome::Written:
        case Outcome::NothingToWrite:
            return true;
        case Outcome::NotSignalled:
            gui::message_box(this, q(result.message), q(kCaption), MessageIcon::Warning);
            return true;
        case Outcome::InvalidName:
            gui::message_box(this, q(result.message), q(kInvalidData), MessageIcon::Warning);
            state_.choose_set(static_cast<int>(result.set), PAGE_BACKUP_TYPE);
            focus_name_field();
            return false;
        case Outcome::InvalidRepeat:
            gui::message_box(this, q(result.message), q(kInvalidData), MessageIcon::Warning);
            state_.show_page(PAGE_SCHEDULING);
            if (QWidget* repeat = mirror_->control(PAGE_SCHEDULING, "RepeatEvery")) {
                repeat->setFocus();
                if (auto* edit = qobject_cast<QLineEdit*>(repeat)) edit->selectAll();
            }
            return false;
        case Outcome::ReadOnly:
            offer_administrator();
            return false;
    }
    return false;
}

void EditorWindow::offer_administrator() {
    if (!gui::can_restart_as_administrator()) {
        gui::message_box(this,
                         QStringLiteral("The settings of this computer can only be changed by an "
                                        "administrator. Start the settings editor as root to "
                                        "save changes."),
                         q(kCaption), MessageIcon::Warning);
        return;
    }
    if (gui::message_box(this,
                         QStringLiteral("The settings of this computer can only be changed by an "
                                        "administrator.\n\nStart the settings editor again with "
                                        "administrator rights? The changes made in this window "
                                        "are not kept."),
                         q(kCaption), MessageIcon::Question,
                         MessageButtons::YesNo) != MessageAnswer::Yes)
        return;
    if (QString why = gui::restart_as_administrator(); !why.isEmpty()) {
        gui::message_box(this, why, q(kCaption), MessageIcon::Warning);
        return;
    }
    finish(QDialog::Rejected, true);
}

void EditorWindow::focus_name_field() {
    if (state_.shown_page() != PAGE_BACKUP_TYPE) return;
    if (auto* name = qobject_cast<QLineEdit*>(mirror_->control(PAGE_BACKUP_TYPE, "Name"))) {
        name->setFocus();
        name->selectAll();
    }
}

void EditorWindow::finish(int result, bool store_placement) {
    if (store_placement) gui::save_placement(*this, kEditorProgram);
    done(result);
}

void EditorWindow::apply_changes() {
    saved(state_.apply());
}

void EditorWindow::ok() {
    if (saved(state_.apply())) finish(QDialog::Accepted, true);
}

void EditorWindow::save_settings() {
    saved(state_.apply());
}

void EditorWindow::exit_editor() {
    if (!state_.modified()) {
        finish(QDialog::Accepted, true);
        return;
    }
    switch (gui::message_box(this, QStringLiteral("Save Changes?"), QStringLiteral("Quit"),
                             MessageIcon::Question, MessageButtons::YesNoCancel)) {
        case MessageAnswer::Yes:
            if (saved(state_.apply())) finish(QDialog::Accepted, true);
            break;
        case MessageAnswer::No:
            finish(QDialog::Rejected, true);
            break;
        default:
            break;
    }
}

void EditorWindow::new_set() {
    state_.new_set();
    focus_name_field();
}

void EditorWindow::copy_set() {
    int set = state_.current_set();
    if (set < 0) return;
    QString text = QStringLiteral("Make a copy of Backup Set '%1'?").arg(q(state_.item_text(set)));
    if (gui::message_box(this, text, QStringLiteral("Copy Backup Set"), MessageIcon::Question,
                         MessageButtons::YesNo) == MessageAnswer::Yes)
        state_.copy_set();
}

void EditorWindow::delete_set() {
    int set = state_.current_set();
    if (set < 0) return;
    QString text = QStringLiteral("Are you sure you want to delete Backup Set '%1'?")
                       .arg(q(state_.item_text(set)));
    if (gui::message_box(this, text, QStringLiteral("Confirm Deletion"), MessageIcon::Question,
                         MessageButtons::YesNo) == MessageAnswer::Yes)
        state_.delete_set();
}

void EditorWindow::list_scheduled_items() {
    // The list shows what the pages show, edits not yet saved included.
    state_.store_pages();
    ScheduleDialog dialog(state_.settings().backup_sets(), this);
    int row = dialog.choose();
    if (row < 0 || static_cast<size_t>(row) >= state_.set_count()) return;
    state_.choose_set(row);
    select_item(set_item(row));
}

void EditorWindow::show_help() {
    help_->open(this, page_help_context(state_.shown_page()));
    activateWindow();
}

void EditorWindow::show_documentation() {
    help_->open(this);
    activateWindow();
}

}  // namespace vardel
