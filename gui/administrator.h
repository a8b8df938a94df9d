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

// Tells the user that only an administrator may go on (`text`, caption
// "Error!") and, where pkexec is there, offers to start this program again
// with `arguments` and administrator rights. True when the new start is
// under way (this one then ends).
bool offer_restart_as_administrator(const QString& text, const QStringList& arguments);

}  // namespace vardel::gui
