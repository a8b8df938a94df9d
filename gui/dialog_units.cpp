#include "gui/dialog_units.h"

#include <QFontMetricsF>
#include <QWidget>
#include <cmath>

namespace vardel::gui {

QSize dialog_units(const QWidget& widget, int width, int height) {
    QFontMetricsF fm(widget.font());
    static const QString sample =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    double average = fm.horizontalAdvance(sample) / sample.size();
    return QSize(static_cast<int>(std::lround(width * average / 4)),
                 static_cast<int>(std::lround(height * fm.height() / 8)));
}

}  // namespace vardel::gui
