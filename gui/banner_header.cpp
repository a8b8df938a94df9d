#include "gui/banner_header.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>

#include "gui/icons.h"

namespace vardel::gui {

BannerHeader::BannerHeader(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("banner"));
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    p.setColor(QPalette::WindowText, Qt::black);
    setPalette(p);

    auto* logo = new QLabel(this);
    const int side = fontMetrics().height() * 3;
    logo->setPixmap(suite_icon().pixmap(side, side));
    auto* banner = new QLabel(QStringLiteral("%1\n%2").arg(QString::fromUtf8(kBannerSlogan),
                                                           QString::fromUtf8(kBannerSubtitle)),
                              this);
    banner->setObjectName(QStringLiteral("banner_text"));
    QFont bold = banner->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.25);
    banner->setFont(bold);
    banner->setAlignment(Qt::AlignCenter);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 8, 12, 8);
    row->addWidget(logo);
    row->addWidget(banner, 1);
    // Balances the logo, so the banner sits in the middle of the window.
    row->addSpacing(side);
}

QWidget* etched_line(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

}  // namespace vardel::gui
