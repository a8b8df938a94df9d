#pragma once
// The white header of the setup and removal windows: the suite's logo at
// the left and, centred right of it, the two-line banner in bold (a quoted
// slogan, then "Automated Backup"). GUI thread only.
#include <QWidget>

namespace vardel::gui {

inline constexpr const char* kBannerSlogan = "\"Set it once, sleep soundly\"";
inline constexpr const char* kBannerSubtitle = "Automated Backup";

class BannerHeader : public QWidget {
    Q_OBJECT
  public:
    explicit BannerHeader(QWidget* parent = nullptr);
};

// An etched line across a window, as under the header and above the buttons.
QWidget* etched_line(QWidget* parent);

}  // namespace vardel::gui
