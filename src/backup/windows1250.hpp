#pragma once
// UTF-8 names in Windows-1250, the 8-bit code page of Czech Windows: the form a name takes in the
// Windows deletion batch before its Czech letters are moved to code page 852.

#include <string>
#include <string_view>

namespace sejfko {

// False (and `out` unspecified) when `utf8` is not valid UTF-8 or holds a character that
// Windows-1250 has no byte for.
bool Utf8ToWindows1250(std::string_view utf8, std::string& out);

}  // namespace sejfko
