// The editor's commands on settings files, logs and shortcuts, and the
// "Logs" and "Available Backups" branches of its tree. Not yet part of
// this build: each command says so.
#include <QTreeWidgetItem>

#include "gui/message_box.h"
#include "vardelcfg/ui/editor_window.h"

namespace vardel {

namespace {

void not_yet(QWidget* parent) {
    gui::message_box(parent, QStringLiteral("This command is not available yet."),
                     QStringLiteral("Vardel Settings"), gui::MessageIcon::Information);
}

}  // namespace

void EditorWindow::export_settings() {
    not_yet(this);
}

bool EditorWindow::import_settings() {
    not_yet(this);
    return false;
}

void EditorWindow::export_all_sets() {
    not_yet(this);
}

void EditorWindow::export_current_set() {
    not_yet(this);
}

bool EditorWindow::import_set() {
    not_yet(this);
    return false;
}

void EditorWindow::create_shortcut() {
    not_yet(this);
}

void EditorWindow::cycle_logs_now() {
    not_yet(this);
}

void EditorWindow::edit_log() {
    not_yet(this);
}

void EditorWindow::fill_logs_and_backups() {}

void EditorWindow::other_item_selected(QTreeWidgetItem*) {}

}  // namespace vardel
