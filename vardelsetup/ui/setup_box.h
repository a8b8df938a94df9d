#pragma once
// The box "Vardel Installation Setup" that unpacks the payload before the
// wizard: an icon, a status text, a progress bar and "Cancel". The
// unpacking runs on a worker thread that reports through queued calls;
// exec() gives Accepted when every file was unpacked. GUI thread only.
#include <QDialog>
#include <span>
#include <thread>

#include "vardelsetup/payload.h"

class QLabel;
class QProgressBar;

namespace vardel {

class SetupBox : public QDialog {
    Q_OBJECT
  public:
    SetupBox(std::span<const unsigned char> payload, const std::string& scratch,
             QWidget* parent = nullptr);
    ~SetupBox() override;

    int exec() override;
    // Shows a status and position without unpacking (screenshots).
    void show_progress(const QString& status, int percent);

  private:
    void finished(bool ok);
    void reject() override;

    PayloadUnpacker unpacker_;
    std::thread worker_;
    QLabel* status_;
    QProgressBar* bar_;
};

}  // namespace vardel
