#pragma once
// File names for the suite's named kernel objects (events, mutexes): any
// name a caller may choose (a backup set's name with slashes, dots, blanks or
// non-ASCII bytes) becomes one safe file name inside the object's folder.
//
// Letters, digits, '_' and '-' stay as they are; every other byte, '%'
// included, becomes "%XX" (upper-case hex), so the mapping is one-to-one and
// no name can be "", "." or ".." or contain "/". A result longer than 200
// bytes is cut and ends in "~" and a 64-bit hash of the whole name, so it
// still fits in NAME_MAX. Pure function; any thread.
#include <string>
#include <string_view>

namespace vardel::platform {

std::string object_file_name(std::string_view name);

}  // namespace vardel::platform
