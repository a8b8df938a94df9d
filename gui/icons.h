#pragma once
// The suite's icons, drawn as SVG and compiled into the programs, so a
// window looks the same wherever it runs, icon theme or not.
#include <QIcon>
#include <QString>

namespace vardel::gui {

// The application icon of every program.
QIcon suite_icon();
// An icon of gui/'s set by its base name ("vardel"), or of a program's own
// resources by a full resource path (":/vardelrestore/open.svg").
QIcon icon(const QString& name);

}  // namespace vardel::gui
