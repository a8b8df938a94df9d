#pragma once
// Opens the suite's HTML help, "help.html", in the user's browser through
// xdg-open: at its start, or at the topic of a context number
// ("help.html#210"). The file is looked for in the installation folder
// ("InstallDir" of the settings), beside the program, and in the program's
// share folder; when it is in none of them the user is told where it was
// looked for. GUI thread only.
#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace vardel::gui {

class HelpOpener {
  public:
    static constexpr const char* kHelpFile = "help.html";

    // The usual places and xdg-open.
    HelpOpener();
    // Given places (folders, in order) and the program that opens a URL.
    HelpOpener(QStringList folders, QString opener);

    // The folders looked in, in order.
    const QStringList& folders() const { return folders_; }
    // The help file's path, or none.
    std::optional<QString> find() const;
    // The URL to open: the file, with "#<context>" when a context is given.
    static QString url_for(const QString& file, std::optional<int> context);

    // Starts the opener on the help file (detached; the browser outlives the
    // program). False, after telling the user why, when the file is missing
    // or the opener cannot be started.
    bool open(QWidget* parent, std::optional<int> context = std::nullopt) const;

  private:
    QStringList folders_;
    QString opener_;
};

}  // namespace vardel::gui
