#pragma once
// The tray's commands: the popup menu in its order, with each command's id,
// text and action, and what a left click on the icon does for each
// ClickAction setting. Plain tables; any thread.
#include <cstdint>
#include <string>
#include <vector>

namespace vardel {

enum class TrayAction {
    Separator,
    StartProgram,  // `program` from the installation folder
    Request,       // `request` on the kept connection
    StartService,
    Close,
    Help,
};

struct TrayCommand {
    int id = 0;
    std::string text;  // with its "&" mnemonic
    TrayAction action = TrayAction::Separator;
    std::string program;   // StartProgram
    uint32_t request = 0;  // Request
};

// The popup menu, separators included, in order.
const std::vector<TrayCommand>& tray_menu();
// The command of menu id `id`, or null.
const TrayCommand* tray_command(int id);

// A left click: 0 starts the editor, 1 the schedule list, 2 the manual
// starter; any other value asks the service for its status.
TrayCommand click_command(int32_t click_action);

// Help topics: the menu's "Help", and the first start's introduction.
inline constexpr int kTrayHelpContext = 190;
inline constexpr int kFirstRunHelpContext = 30;

}  // namespace vardel
