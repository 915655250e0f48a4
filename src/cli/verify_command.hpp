#pragma once
// `sejfko-cli verify ARCHIVE...`: reads every entry of each archive through the CRC-32 check.
// Prints "ARCHIVE: OK" for a sound archive; for a damaged one "ARCHIVE: CHYBA" followed by one
// indented line per bad entry (or for the unreadable directory) with the reason.

#include <ostream>
#include <string>
#include <vector>

namespace sejfko {

// Exit code: 0 when every archive is sound, 1 otherwise, 2 without an archive.
int RunVerifyCommand(const std::vector<std::string>& arguments, std::ostream& out,
                     std::ostream& err);

}  // namespace sejfko
