#pragma once
// A folder browser: a tree of the file system from "/", with an edit box
// that shows the chosen path and takes a typed one. It offers folders only,
// or files as well (for lists that hold both). GUI thread only.
#include <QDialog>
#include <QString>
#include <optional>

class QFileSystemModel;
class QLineEdit;
class QTreeView;

namespace vardel::gui {

class PathBrowser : public QDialog {
    Q_OBJECT
  public:
    enum class Offers { Folders, FoldersAndFiles };

    // `start` is shown selected when it exists.
    PathBrowser(QWidget* parent, const QString& title, Offers offers,
                const QString& start = QString());

    // The path in the edit box, without a trailing "/" (except for "/").
    QString path() const;

    // Shows the browser; the chosen path, or none when it was cancelled or
    // left empty.
    static std::optional<QString> choose(QWidget* parent, const QString& title, Offers offers,
                                         const QString& start = QString());

  private:
    void select(const QString& path);

    QFileSystemModel* model_;
    QTreeView* tree_;
    QLineEdit* edit_;
};

}  // namespace vardel::gui
