#include "vardelwatch/ui/status_panel.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

namespace vardel {

namespace {
constexpr int kMargin = 10;
}

StatusPanel::StatusPanel(const WatchState& state, QWidget* parent)
    : QWidget(parent), state_(state) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

// Values stand out from their labels, as the old system font did.
QFont StatusPanel::value_font() const {
    QFont f = font();
    f.setBold(true);
    return f;
}

int StatusPanel::line_height() const {
    return QFontMetrics(value_font()).height();
}

QSize StatusPanel::sizeHint() const {
    // Three rows of values with a blank one between, and the next-run text
    // may take two lines.
    return QSize(300, 5 * line_height() + kMargin);
}

QSize StatusPanel::minimumSizeHint() const {
    return QSize(100, sizeHint().height());
}

void StatusPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    const int h = line_height();
    const int right = width();

    if (state_.display() != WatchState::Display::StatusKnown) {
        p.setFont(value_font());
        p.drawText(QRect(0, 0, right, height()), Qt::AlignCenter,
                   QString::fromLatin1(state_.waiting_text()));
        return;
    }

    QFontMetrics labels(font());
    const QString status = QStringLiteral("Status:");
    const QString progress = QStringLiteral("Progress:");
    const int w = std::max(labels.horizontalAdvance(status), labels.horizontalAdvance(progress));
    p.setFont(font());
    p.drawText(QRect(kMargin, kMargin, w, h), Qt::AlignLeft | Qt::AlignVCenter, status);
    p.drawText(QRect(kMargin, 3 * h + kMargin, w, h), Qt::AlignLeft | Qt::AlignVCenter, progress);

    const int x = w + 2 * kMargin;
    const int value_width = std::max(0, right - x - kMargin);
    p.setFont(value_font());
    p.drawText(QRect(x, kMargin, value_width, h), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromLatin1(state_.enabled_text()));
    p.drawText(QRect(x, h + kMargin, value_width, h), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromStdString(state_.progress_text()));
    p.drawText(QRect(x, 3 * h + kMargin, value_width, 2 * h),
               Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
               QString::fromStdString(state_.next_run_text()));
}

}  // namespace vardel
