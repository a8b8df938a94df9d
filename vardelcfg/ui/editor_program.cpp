#include "vardelcfg/ui/editor_program.h"

#include <exception>
#include <memory>

#include "common/general_settings.h"
#include "common/my_error.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "gui/guarded_application.h"
#include "gui/message_box.h"
#include "platform/named_event.h"
#include "vardelcfg/editor_state.h"
#include "vardelcfg/field_rules.h"
#include "vardelcfg/ui/editor_window.h"

namespace vardel {

int run_editor_window(int argc, char** argv) {
    gui::GuardedApplication app(argc, argv, QStringLiteral("vardelcfg"));
    registry::Store store;
    GeneralSettings settings;
    try {
        store = registry::current_store(registry::Transaction::Mode::Read);
        settings.load(store);
    } catch (const MyError& e) {
        gui::show_error(nullptr, e);
        return 1;
    }
    // A store this process may not write is shown, never saved: the event
    // it could not pulse anyway is then no reason to stop.
    const bool read_only = store->read_only();
    std::unique_ptr<platform::NamedEvent> reload;
    try {
        reload = std::make_unique<platform::NamedEvent>(kReloadEventName);
    } catch (const std::exception&) {
        if (!read_only) {
            gui::message_box(nullptr, QStringLiteral("Can't create vardeld signal event"),
                             QStringLiteral("Fatal Error"), gui::MessageIcon::Error);
            return 0;
        }
    }
    EditorState state(std::move(settings),
                      EditorState::Options{store, suite_data_path(store), read_only, reload.get()});
    EditorWindow window(state);
    window.exec();
    return 0;
}

}  // namespace vardel
