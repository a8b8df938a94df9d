#pragma once
// Tells when the user's session ends: the desktop's session manager asking
// the program to save its work before a log-out, logind removing this
// session, or the machine preparing to shut down. Each source reports;
// the listener decides what a repeated report means. GUI thread only.
#include <QDBusObjectPath>
#include <QObject>
#include <QString>

namespace vardel {

class SessionEnd : public QObject {
    Q_OBJECT
  public:
    // `session`: logind's id of this session ("" when there is none).
    explicit SessionEnd(const QString& session, QObject* parent = nullptr);

  signals:
    void ending();

  private slots:
    void session_removed(const QString& id, const QDBusObjectPath& path);
    void prepare_for_shutdown(bool start);

  private:
    QString session_;
};

}  // namespace vardel
