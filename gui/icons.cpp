#include "gui/icons.h"

// Resources of a static library must be registered by hand.
static void init_gui_icons() {
    Q_INIT_RESOURCE(gui_icons);
}

namespace vardel::gui {

QIcon icon(const QString& name) {
    static const bool once = (init_gui_icons(), true);
    (void)once;
    if (name.startsWith(QLatin1Char(':'))) return QIcon(name);
    return QIcon(QStringLiteral(":/vardel/icons/%1.svg").arg(name));
}

QIcon suite_icon() {
    return icon(QStringLiteral("vardel"));
}

}  // namespace vardel::gui
