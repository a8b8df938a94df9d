#include "gui/guarded_application.h"

#include "common/log.h"
#include "gui/icons.h"

namespace vardel::gui {

void show_exception(QWidget* parent, const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const MyError& e) {
        log(LOG_DEBUG, "User action failed: %d %s\n", e.code(), e.message());
        show_error(parent, e);
    } catch (const std::exception& e) {
        log(LOG_DEBUG, "User action failed: %s\n", e.what());
        message_box(parent, QString::fromUtf8(e.what()), kErrorCaption, MessageIcon::Error);
    } catch (...) {
        message_box(parent, QStringLiteral("Unknown error"), kErrorCaption, MessageIcon::Error);
    }
}

GuardedApplication::GuardedApplication(int& argc, char** argv, const QString& program)
    : QApplication(argc, argv) {
    setApplicationName(program);
    setApplicationVersion(QStringLiteral(VARDEL_VERSION));
    setOrganizationName(QStringLiteral("Brindlecore"));
    setWindowIcon(suite_icon());
}

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        show_exception(activeWindow(), std::current_exception());
        return false;
    }
}

}  // namespace vardel::gui
