#pragma once
// A message the editor shows to its user: in the window a message box with
// this caption and icon, on the command line a line on standard error.
#include <string>

namespace vardel {

struct EditorMessage {
    enum class Icon { Stop, Exclamation, Question, Information };

    std::string text;  // may end in "\n" as the system's own texts do
    std::string caption;
    Icon icon = Icon::Stop;

    bool operator==(const EditorMessage&) const = default;
};

}  // namespace vardel
