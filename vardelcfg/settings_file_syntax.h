#pragma once
// The line syntax shared by settings files and backup-set files.
//
//   ; a comment                 (leading white space is ignored)
//   [Section name]
//   Key = value                 (white space around '=' and at the end dropped)
//   Key = "quoted value"        (the quotes dropped; inner blanks kept)
//
// Escapes are undone in every value: "\\" is one backslash, "\n" a line
// break (CR LF); a backslash before anything else stays as it is. Keys,
// section names, enumeration names and "Y" compare without regard to case.
//
// A section line is any line whose first character is '[': its name is the
// line without the '[' and its last character, so a set name holding '='
// survives. Constant functions; any thread.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vardel {

struct SettingsLine {
    bool section = false;
    std::string key;    // the key, or the whole section line ("[Nightly]")
    std::string name;   // a section's name
    std::string value;  // unquoted and unescaped
};

// One line (without its line end); none for an empty or comment line.
std::optional<SettingsLine> parse_settings_line(std::string_view line);

// Calls f for every key and section line of a file's text, in order. A CR
// before a line feed belongs to the line end; a UTF-8 byte-order mark at the
// start is skipped.
void for_each_settings_line(std::string_view text,
                            const std::function<void(const SettingsLine&)>& f);

// "\\" for each backslash and "\n" for each line break (CR LF, or a lone CR
// or LF, so that no value can ever start a line of its own).
std::string escape_settings_value(std::string_view text);
std::string unescape_settings_value(std::string_view text);

// The value as a quoted-text line carries it: '"' + escaped + '"'.
std::string quoted_settings_value(std::string_view text);
// A plain text as it is when it reads back unchanged that way, else quoted.
std::string plain_settings_value(std::string_view text);

// A number as far as it is numeric: blanks, an optional sign, digits; 0
// without digits; held to the 32-bit range.
int32_t settings_number(std::string_view value);

}  // namespace vardel
