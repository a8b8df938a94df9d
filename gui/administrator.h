#pragma once
// Starting this program again with administrator rights (pkexec), for a
// window that an ordinary user opened but only root can act in. pkexec
// clears the environment, so the display goes along by hand. GUI thread.
#include <QString>
#include <QStringList>

namespace vardel::gui {

// True when pkexec is there to ask.
bool can_restart_as_administrator();

// Starts this program through pkexec with `arguments`; the message that
// says why it could not, or an empty text once it started (the caller then
// ends).
QString restart_as_administrator(const QStringList& arguments = {});

}  // namespace vardel::gui
