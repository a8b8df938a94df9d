#include "gui/screenshot.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

namespace vardel::gui {

bool save_screenshot(QWidget& widget, const QString& folder, const QString& name) {
    widget.show();
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    QPixmap shot = widget.grab();
    QString file = QDir(folder).filePath(name + QStringLiteral(".png"));
    bool ok = !shot.isNull() && shot.save(file, "PNG");
    if (!ok) std::fprintf(stderr, "screenshots: can't write %s\n", qPrintable(file));
    return ok;
}

QString screenshot_folder(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argc > 0 ? argv[0] : "screenshots");
        std::exit(2);
    }
    QDir().mkpath(QString::fromLocal8Bit(argv[1]));
    return QString::fromLocal8Bit(argv[1]);
}

}  // namespace vardel::gui
