#pragma once
// Sizes given in dialog units, the font-relative measure the suite's window
// layouts are drawn in: a horizontal unit is a quarter of the average
// character width, a vertical one an eighth of the character height, both
// of the widget's font. So a window keeps its proportions at any font size.
// GUI thread only.
#include <QSize>

class QWidget;

namespace vardel::gui {

QSize dialog_units(const QWidget& widget, int width, int height);

}  // namespace vardel::gui
