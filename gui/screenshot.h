#pragma once
// For the <program>_screenshots executables: renders a window or dialog as
// a user would see it and writes "<folder>/<name>.png". Runs offscreen
// (QT_QPA_PLATFORM=offscreen); GUI thread only.
#include <QString>

class QWidget;

namespace vardel::gui {

// Shows the widget (so layouts settle), lets pending events run, grabs it
// and writes the PNG. False, with a line on standard error, on failure.
bool save_screenshot(QWidget& widget, const QString& folder, const QString& name);

// The folder argument of a screenshots program (argv[1]); exits with a
// usage line when it is missing.
QString screenshot_folder(int argc, char** argv);

}  // namespace vardel::gui
