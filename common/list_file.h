#pragma once
// List files "L<cycle>_<n>.TXT": one line per change, a capital letter, a
// blank and a text:
//   A <dir>/   directory present (new, or with changes below it)
//   B <name>   file added in the current directory
//   C <dir>/   directory gone
//   D <name>   file gone from the current directory
// Text files: written with CR LF, read accepting LF or CR LF, lines of any
// length.
//
// A text that the plain form cannot carry (a line break, or blanks at either
// end, which readers trim) is written in the escaped form: the letter in
// lower case ("a".."d") and the text with "%", CR, LF, tab and blank as %XX.
// Readers that know only the capital letters skip such lines; ordinary names
// are written exactly in the plain form.
#include <functional>
#include <string>
#include <string_view>

namespace vardel {

struct ListLine {
    char kind = 0;  // 'A', 'B', 'C' or 'D'
    std::string text;
};

// One line with its CR LF.
std::string format_list_line(char kind, std::string_view text);
// False for a line that is none of the eight forms (it is to be ignored).
// `line` has no line end; a trailing CR is tolerated.
bool parse_list_line(std::string_view line, ListLine& out);

// Every line of a list file's text.
void parse_list_text(std::string_view text, const std::function<void(const ListLine&)>& fn);
// Reads every line of a list file; false when it cannot be opened or is not
// a regular file (a FIFO would never end).
bool read_list_file(const std::string& path, const std::function<void(const ListLine&)>& fn);

}  // namespace vardel
