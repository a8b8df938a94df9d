#include "vardelagenda/ui/agenda_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "common/my_error.h"
#include "common/suite_names.h"
#include "gui/dialog_units.h"
#include "gui/general_schedule_model.h"
#include "gui/icons.h"
#include "gui/message_box.h"
#include "gui/saved_placement.h"
#include "vardelagenda/ui/upcoming_model.h"

namespace vardel {

AgendaWindow::AgendaWindow(const Agenda& agenda, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Backup Schedule"));
    setWindowIcon(gui::suite_icon());
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    setSizeGripEnabled(true);

    general_model_ = new gui::GeneralScheduleModel(agenda.sets(), agenda.general(),
                                                   RepeatShown::FromOneMinute, this);
    upcoming_model_ = new UpcomingModel(agenda, this);

    auto* general_label = new QLabel(QStringLiteral("General Schedule"), this);
    QTableView* general = make_list("1000", general_model_);
    auto* upcoming_label = new QLabel(QStringLiteral("Upcoming"), this);
    upcoming_label->setObjectName("1002");
    QTableView* upcoming = make_list("1001", upcoming_model_);
    general_label->setBuddy(general);
    upcoming_label->setBuddy(upcoming);

    auto* done_button = new QPushButton(QStringLiteral("Done"), this);
    done_button->setObjectName("1");
    done_button->setDefault(true);
    connect(done_button, &QPushButton::clicked, this, &QDialog::accept);

    // Equal stretch: the "Upcoming" label keeps its place at the same
    // fraction of the height as the window grows.
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(general_label);
    layout->addWidget(general, 1);
    layout->addWidget(upcoming_label);
    layout->addWidget(upcoming, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(done_button);
    layout->addLayout(buttons);

    // Wide enough for every column when the screen allows, so the lists
    // open without a horizontal scroll bar.
    QSize size = gui::dialog_units(*this, 285, 228);
    int wanted = std::max(list_width(general), list_width(upcoming)) +
                 layout->contentsMargins().left() + layout->contentsMargins().right();
    if (QScreen* s = screen()) wanted = std::min(wanted, s->availableGeometry().width() * 9 / 10);
    resize(std::max(size.width(), wanted), size.height());
    done_button->setFocus();
    gui::restore_placement(*this, kAgendaProgram);
}

QTableView* AgendaWindow::make_list(const char* id, QAbstractItemModel* model) {
    auto* list = new QTableView(this);
    list->setObjectName(id);
    list->setModel(model);
    list->setShowGrid(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setWordWrap(false);
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    list->horizontalHeader()->setHighlightSections(false);
    // Columns fit their header and their text, so nothing shows cut off;
    // the last one takes what room is left.
    list->resizeColumnsToContents();
    list->horizontalHeader()->setStretchLastSection(true);
    return list;
}

int AgendaWindow::list_width(QTableView* list) {
    int width = 2 * list->frameWidth() + list->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < list->model()->columnCount(); ++c) width += list->columnWidth(c);
    return width;
}

void AgendaWindow::report_full() {
    gui::message_box(this, QString::fromLatin1(Agenda::kFullMessage), QStringLiteral("Error!"),
                     gui::MessageIcon::Error);
    gui::show_error(this, MyError(OPERATION_FAILED, Agenda::kFullError));
}

void AgendaWindow::done(int result) {
    gui::save_placement(*this, kAgendaProgram);
    QDialog::done(result);
}

}  // namespace vardel
