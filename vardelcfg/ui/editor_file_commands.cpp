// The editor's commands on settings files, logs and shortcuts, and the
// "Logs" and "Available Backups" branches of its tree.
#include <QEventLoop>
#include <QFileDialog>
#include <QProcess>
#include <QProgressDialog>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <thread>

#include "common/destination_names.h"
#include "common/installed_program.h"
#include "gui/message_box.h"
#include "vardelcfg/available_backups.h"
#include "vardelcfg/desktop_shortcut.h"
#include "vardelcfg/editor_logs.h"
#include "vardelcfg/settings_file.h"
#include "vardelcfg/ui/editor_window.h"

namespace vardel {

namespace {

using gui::MessageIcon;

// Item data of the two branches: what an item stands for.
constexpr int kKindRole = Qt::UserRole + 1;
constexpr int kLogRole = Qt::UserRole + 2;     // the log number
constexpr int kSetRole = Qt::UserRole + 3;     // an instance's set name
constexpr int kCycleRole = Qt::UserRole + 4;   // ... its cycle
constexpr int kBackupRole = Qt::UserRole + 5;  // ... its backup
enum ItemKind { kLogItem = 1, kInstanceItem = 2 };
// The window's own mark for items that change no page.
constexpr int kOtherItem = -2;

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

void show_message(QWidget* parent, const EditorMessage& m) {
    MessageIcon icon = MessageIcon::Error;
    switch (m.icon) {
        case EditorMessage::Icon::Stop:
            icon = MessageIcon::Error;
            break;
        case EditorMessage::Icon::Exclamation:
            icon = MessageIcon::Warning;
            break;
        case EditorMessage::Icon::Question:
            icon = MessageIcon::Question;
            break;
        case EditorMessage::Icon::Information:
            icon = MessageIcon::Information;
            break;
    }
    QString text = q(m.text);
    while (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    gui::message_box(parent, text, q(m.caption), icon);
}

// Every message of a file operation, then its failure; true when it was done.
bool shown(QWidget* parent, const SettingsFile::Result& r, const char* failure_caption) {
    for (const EditorMessage& m : r.messages) show_message(parent, m);
    if (!r.error.empty())
        show_message(parent, {r.error, failure_caption, EditorMessage::Icon::Stop});
    return r.done;
}

std::string save_file(QWidget* parent, const QString& filter, const QString& suffix) {
    QFileDialog dialog(parent, QStringLiteral("Select file to save to"), QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front().toStdString();
}

std::string open_file(QWidget* parent, const QString& filter) {
    QFileDialog dialog(parent, QStringLiteral("Select file to load from"), QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front().toStdString();
}

const QString kSettingsFilter = QStringLiteral("INI Files (*.INI *.ini)");
const QString kSetsFilter = QStringLiteral("Backup Sets (*.BST *.bst)");
constexpr const char* kSaveError = "Save Error!";
constexpr const char* kLoadError = "Load Error";

bool open_with_desktop(const std::string& path) {
    return QProcess::startDetached(QStringLiteral("xdg-open"), {q(path)});
}

EditorLogs editor_logs(const EditorState& state) {
    return EditorLogs(state.settings(), state.store(), open_with_desktop);
}

}  // namespace

void EditorWindow::export_settings() {
    std::string file = save_file(this, kSettingsFilter, QStringLiteral("INI"));
    if (file.empty()) return;
    shown(this, SettingsFile::export_settings(file, state_.settings()), kSaveError);
}

bool EditorWindow::import_settings() {
    std::string file = open_file(this, kSettingsFilter);
    if (file.empty()) return false;
    // Edits not yet stored stay where the file has no line for them.
    state_.store_pages();
    return shown(this, SettingsFile::import_settings(file, state_.settings()), kLoadError);
}

void EditorWindow::export_all_sets() {
    if (state_.settings().backup_sets().empty()) {
        show_message(this, SettingsFile::no_sets_message());
        return;
    }
    std::string file = save_file(this, kSetsFilter, QStringLiteral("BST"));
    if (file.empty()) return;
    shown(this, SettingsFile::export_all_sets(file, state_.settings().backup_sets()), kSaveError);
}

void EditorWindow::export_current_set() {
    int current = state_.current_set();
    if (current < 0) return;
    std::string file = save_file(this, kSetsFilter, QStringLiteral("BST"));
    if (file.empty()) return;
    shown(this, SettingsFile::export_set(file, state_.settings().backup_sets()[current]),
          kSaveError);
}

bool EditorWindow::import_set() {
    std::string file = open_file(this, kSetsFilter);
    if (file.empty()) return false;
    bool done =
        shown(this, SettingsFile::import_sets(file, state_.settings().backup_sets()), kLoadError);
    // The tree is built anew after an import: both branches too.
    if (done) fill_logs_and_backups();
    return done;
}

void EditorWindow::create_shortcut() {
    int current = state_.current_set();
    if (current < 0) {
        show_message(this, DesktopShortcut::no_set_message());
        return;
    }
    const std::string name = state_.settings().backup_sets()[current].Name;
    if (gui::message_box(this, q(DesktopShortcut::question(name)),
                         QStringLiteral("Create Shortcut"), MessageIcon::Question,
                         gui::MessageButtons::OkCancel) != gui::MessageAnswer::Ok)
        return;
    if (std::optional<EditorMessage> m = DesktopShortcut::create(
            name, installed_program("vardelgo"), DesktopShortcut::desktop_folder()))
        show_message(this, *m);
}

void EditorWindow::cycle_logs_now() {
    // A number of logs just typed on the "Logs" page counts.
    state_.store_pages();
    // Mailing the log may wait for a slow mail server: that wait is not the
    // window's. A window-modal progress box keeps the editor drawn and its
    // commands from running meanwhile.
    const GeneralSettings settings = state_.settings();
    const registry::Store store = state_.store();
    std::optional<EditorMessage> failure;
    QEventLoop loop;
    QProgressDialog busy(QStringLiteral("Cycling the logs..."), QString(), 0, 0, this);
    busy.setWindowTitle(QStringLiteral("Cycle Logs Now"));
    busy.setWindowModality(Qt::WindowModal);
    busy.setMinimumDuration(500);
    std::thread worker([&] {
        failure = EditorLogs(settings, store, open_with_desktop).cycle_now();
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    busy.reset();
    if (failure) {
        show_message(this, *failure);
        return;
    }
    // Refresh: items past KeepNLogs go, missing ones come, the rest keep
    // their text.
    EditorLogs logs = editor_logs(state_);
    int keep = std::max(state_.settings().KeepNLogs, 0);
    while (logs_root_->childCount() > keep)
        delete logs_root_->takeChild(logs_root_->childCount() - 1);
    for (int n = logs_root_->childCount(); n < keep; ++n) {
        auto* item = new QTreeWidgetItem(logs_root_, {q(logs.item_text(n))});
        item->setData(0, Qt::UserRole, kOtherItem);
        item->setData(0, kKindRole, kLogItem);
        item->setData(0, kLogRole, n);
    }
}

void EditorWindow::edit_log() {
    std::optional<int64_t> selected;
    if (QTreeWidgetItem* item = tree_->currentItem();
        item && item->data(0, kKindRole).toInt() == kLogItem)
        selected = item->data(0, kLogRole).toLongLong();
    if (std::optional<EditorMessage> m = editor_logs(state_).edit_log(selected))
        show_message(this, *m);
}

void EditorWindow::fill_logs_and_backups() {
    auto clear = [](QTreeWidgetItem* root) {
        while (root->childCount() > 0) delete root->takeChild(0);
    };
    auto add = [](QTreeWidgetItem* parent, const std::string& text) {
        auto* item = new QTreeWidgetItem(parent, {q(text)});
        item->setData(0, Qt::UserRole, kOtherItem);
        return item;
    };
    clear(logs_root_);
    clear(backups_root_);
    std::vector<std::string> texts = editor_logs(state_).item_texts();
    for (size_t n = 0; n < texts.size(); ++n) {
        QTreeWidgetItem* item = add(logs_root_, texts[n]);
        item->setData(0, kKindRole, kLogItem);
        item->setData(0, kLogRole, static_cast<qlonglong>(n));
    }
    for (const AvailableSet& set : available_backups(state_.settings().backup_sets())) {
        QTreeWidgetItem* set_item = add(backups_root_, set.set_name);
        for (const AvailableCycle& cycle : set.cycles) {
            QTreeWidgetItem* cycle_item = add(set_item, cycle.text);
            for (const AvailableBackup& b : cycle.backups) {
                QTreeWidgetItem* item = add(cycle_item, b.text);
                item->setData(0, kKindRole, kInstanceItem);
                item->setData(0, kSetRole, q(b.set_name));
                item->setData(0, kCycleRole, b.cycle);
                item->setData(0, kBackupRole, b.backup);
            }
        }
    }
}

void EditorWindow::other_item_selected(QTreeWidgetItem*) {}

void EditorWindow::item_double_clicked(QTreeWidgetItem* item) {
    int kind = item ? item->data(0, kKindRole).toInt() : 0;
    if (kind == kLogItem) {
        if (std::optional<EditorMessage> m =
                editor_logs(state_).edit_log(item->data(0, kLogRole).toLongLong()))
            show_message(this, *m);
    } else if (kind == kInstanceItem) {
        // The restore tool opens the set's destination at that backup, named
        // as its archive "B<cycle>_<n>.SAF" would be.
        const BackupSet* set =
            state_.settings().backup_sets().find(item->data(0, kSetRole).toString().toStdString());
        if (!set) return;
        std::string dest = set->BackupDestination;
        if (!dest.empty() && dest.back() != '/') dest += '/';
        dest += destination::saf_archive(item->data(0, kCycleRole).toInt(),
                                         item->data(0, kBackupRole).toInt());
        if (!QProcess::startDetached(q(installed_program("vardelrestore")), {q(dest)}))
            show_message(this, {"Can't start vardelrestore", "Oops", EditorMessage::Icon::Stop});
    } else {
        gui::beep();
    }
}

}  // namespace vardel
