#include "vardelcfg/ui/month_day_grid.h"

#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "vardelcfg/field_rules.h"

namespace vardel {

namespace {
constexpr int kColumns = 7;
constexpr int kRows = 5;
constexpr int kBorder = 2;
}  // namespace

MonthDayGrid::MonthDayGrid(QWidget* parent) : QFrame(parent), days_(31, '-') {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setFocusPolicy(Qt::ClickFocus);
}

void MonthDayGrid::set_days(const std::string& days) {
    days_ = days;
    update();
}

int MonthDayGrid::cell_width() const {
    return std::max(1, (width() - 2 * kBorder) / kColumns);
}

int MonthDayGrid::cell_height() const {
    return std::max(1, (height() - 2 * kBorder) / kRows);
}

QSize MonthDayGrid::sizeHint() const {
    QFontMetrics fm(font());
    int cell_w = fm.horizontalAdvance(QStringLiteral("000")) + 6;
    int cell_h = fm.height() + 6;
    return {kColumns * cell_w + 2 * kBorder, kRows * cell_h + 2 * kBorder};
}

int MonthDayGrid::day_at(QPoint p) const {
    if (p.x() < kBorder || p.y() < kBorder) return 0;
    int column = (p.x() - kBorder) / cell_width();
    int row = (p.y() - kBorder) / cell_height();
    if (column >= kColumns || row >= kRows) return 0;
    int day = row * kColumns + column + 1;
    return day <= 31 ? day : 0;
}

void MonthDayGrid::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    const bool on = isEnabled();
    p.fillRect(rect(), pal.color(on ? QPalette::Active : QPalette::Disabled, QPalette::Base));
    int cw = cell_width();
    int ch = cell_height();

    QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setPixelSize(std::max(6, std::min(ch - 4, 14)));
    p.setFont(f);
    for (int day = 1; day <= 31; ++day) {
        QRect cell(kBorder + ((day - 1) % kColumns) * cw, kBorder + ((day - 1) / kColumns) * ch, cw,
                   ch);
        bool chosen = day_chosen(days_, static_cast<size_t>(day - 1));
        QPalette::ColorGroup g = on ? QPalette::Active : QPalette::Disabled;
        if (chosen) p.fillRect(cell, pal.color(g, QPalette::Highlight));
        p.setPen(pal.color(g, chosen ? QPalette::HighlightedText : QPalette::Text));
        p.drawText(cell, Qt::AlignCenter, QString::number(day));
    }
    p.setPen(pal.color(QPalette::Mid));
    for (int c = 1; c < kColumns; ++c)
        p.drawLine(kBorder + c * cw, kBorder, kBorder + c * cw, kBorder + kRows * ch);
    for (int r = 1; r < kRows; ++r)
        p.drawLine(kBorder, kBorder + r * ch, kBorder + kColumns * cw, kBorder + r * ch);
    drawFrame(&p);
}

void MonthDayGrid::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (int day = day_at(event->position().toPoint())) emit day_clicked(day);
}

}  // namespace vardel
