#include "vardelnotify/tray_menu.h"

#include "common/pipe_record.h"

namespace vardel {

namespace {

TrayCommand program(int id, const char* text, const char* name) {
    return {id, text, TrayAction::StartProgram, name, 0};
}

TrayCommand request(int id, const char* text, uint32_t code) {
    return {id, text, TrayAction::Request, {}, code};
}

TrayCommand separator() {
    return {};
}

}  // namespace

const std::vector<TrayCommand>& tray_menu() {
    static const std::vector<TrayCommand> menu{
        program(40001, "&Edit Settings", "vardelcfg"),
        program(40008, "Show Sc&hedule", "vardelagenda"),
        program(40002, "Show &Status", "vardelwatch"),
        separator(),
        program(40003, "Start a &Backup", "vardelgo"),
        request(40004, "S&top Backup", PIPE_STOP),
        request(40011, "&Pause Backup", PIPE_PAUSE),
        request(40012, "&Resume Backup", PIPE_RESUME),
        separator(),
        request(40005, "&Enable Service", PIPE_ENABLE),
        request(40006, "&Disable Service", PIPE_DISABLE),
        request(40010, "Sh&ut Down Service", PIPE_SHUT_DOWN),
        {40014, "Start Ser&vice", TrayAction::StartService, {}, 0},
        separator(),
        program(40007, "Restore &Files", "vardelrestore"),
        separator(),
        {40009, "&Close Tray Program", TrayAction::Close, {}, 0},
        separator(),
        {40015, "&Help", TrayAction::Help, {}, 0},
        program(40013, "&About Vardel", "vardelinfo"),
    };
    return menu;
}

const TrayCommand* tray_command(int id) {
    for (const TrayCommand& c : tray_menu())
        if (c.id == id && c.action != TrayAction::Separator) return &c;
    return nullptr;
}

TrayCommand click_command(int32_t click_action) {
    switch (click_action) {
        case 0:
            return *tray_command(40001);
        case 1:
            return *tray_command(40008);
        case 2:
            return *tray_command(40003);
        default:
            return request(0, "", PIPE_SINGLE_STATUS);
    }
}

}  // namespace vardel
