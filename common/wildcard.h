#pragma once
// The suite's wildcard masks, matched against a bare name:
//   *      any run of characters (backtracking: "*.txt" matches "a.b.txt")
//   ?      any one character
//   \x     the character x literally
//   ^x     any one character other than x (compared with case)
//   other  itself, letters without regard to ASCII case
// The whole pattern must be consumed and the whole name matched.
#include <string_view>

namespace vardel {

bool wildcard_match(std::string_view pattern, std::string_view name);

}  // namespace vardel
