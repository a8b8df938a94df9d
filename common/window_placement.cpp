#include "common/window_placement.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <string>

#include "common/log.h"
#include "common/my_error.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"

namespace vardel {

void WindowPlacement::save(std::string_view program, const WindowRect& r) {
    try {
        save(registry::current_store(registry::Transaction::Mode::Write), program, r);
    } catch (const std::exception& e) {
        log(LOG_DEBUG, "Window placement not saved: %s\n", e.what());
    }
}

void WindowPlacement::save(const registry::Store& store, std::string_view program,
                           const WindowRect& r) {
    try {
        std::optional<registry::Key> key = registry::create_key(
            store, registry::Root::LocalMachine, registry::join_path(kProductKey, program));
        if (!key) throw MyError(OPERATION_FAILED, "Can't create registry path");
        registry::write_text(*key, kPlacementValue,
                             strprintf("%d,%d,%d,%d", r.left, r.top, r.width, r.height));
    } catch (const std::exception& e) {
        log(LOG_DEBUG, "Window placement of %.*s not saved: %s\n", static_cast<int>(program.size()),
            program.data(), e.what());
    }
}

std::optional<WindowRect> WindowPlacement::restore(std::string_view program) {
    try {
        return restore(registry::current_store(registry::Transaction::Mode::Read), program);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<WindowRect> WindowPlacement::restore(const registry::Store& store,
                                                   std::string_view program) {
    try {
        std::optional<registry::Key> key = registry::open_key(
            store, registry::Root::LocalMachine, registry::join_path(kProductKey, program));
        if (!key) return std::nullopt;
        return parse(registry::read_text(*key, kPlacementValue, ""));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<WindowRect> WindowPlacement::parse(std::string_view text) {
    std::string s(text);
    int fields[4];
    const char* p = s.c_str();
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*p != ',') return std::nullopt;
            ++p;
        }
        char* end = nullptr;
        errno = 0;
        long v = std::strtol(p, &end, 10);
        if (end == p || errno == ERANGE || v < INT_MIN || v > INT_MAX) return std::nullopt;
        fields[i] = static_cast<int>(v);
        p = end;
    }
    return WindowRect{fields[0], fields[1], fields[2], fields[3]};
}

}  // namespace vardel
