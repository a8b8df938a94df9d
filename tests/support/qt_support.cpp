#include "tests/support/qt_support.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "tests/support/child_process.h"

namespace vardel::test {

bool pump_until(const std::function<bool()>& cond, std::chrono::milliseconds timeout) {
    return wait_until(
        [&] {
            QCoreApplication::processEvents();
            return cond();
        },
        timeout);
}

void on_next_modal(std::function<void(QWidget*)> answer, const QString& caption) {
    auto timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer,
                     [timer, clock, caption, answer = std::move(answer)] {
                         QWidget* modal = QApplication::activeModalWidget();
                         if (modal && modal->isVisible() &&
                             (caption.isEmpty() || modal->windowTitle() == caption)) {
                             timer->stop();
                             timer->deleteLater();
                             answer(modal);
                         } else if (clock->elapsed() > 20000) {
                             timer->stop();
                             timer->deleteLater();
                             ADD_FAILURE() << "no modal window opened: " << caption.toStdString();
                         }
                     });
    timer->start();
}

bool click_button(QWidget* dialog, const QString& text) {
    for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) {
        QString t = b->text();
        t.remove(QLatin1Char('&'));
        if (t == text) {
            b->click();
            return true;
        }
    }
    return false;
}

}  // namespace vardel::test

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
