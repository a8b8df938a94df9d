#pragma once
// A desktop launcher that backs up one set now: "Backup '<set>' Now.desktop"
// on the user's desktop, running vardelgo with the set's name. One thread.
#include <optional>
#include <string>
#include <string_view>

#include "vardelcfg/editor_message.h"

namespace vardel {

class DesktopShortcut {
  public:
    // The launcher's icon, from the desktop's icon theme.
    static constexpr const char* kIconName = "vardel";

    static std::string file_name(std::string_view set_name);
    // The launcher's text: `program` run with the set's name, quoted by the
    // desktop-entry rules so that any name reaches vardelgo as it is.
    static std::string contents(std::string_view set_name, std::string_view program);

    // The user's desktop folder: as `xdg-user-dir DESKTOP` names it, else
    // $HOME/Desktop.
    static std::string desktop_folder();

    // Writes the launcher into `folder` (created when missing), replacing
    // one of the same name, executable and, where the desktop keeps such a
    // mark, trusted. A message when it cannot: a name that cannot be a file
    // name, or a folder or file that cannot be written.
    static std::optional<EditorMessage> create(std::string_view set_name, std::string_view program,
                                               const std::string& folder);

    static EditorMessage no_set_message();                   // "Must have a BackupSet selected"
    static std::string question(std::string_view set_name);  // "Create a shortcut for %s ..."
};

}  // namespace vardel
