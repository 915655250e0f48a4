#pragma once
// `sejfko-cli verify [--password-file FILE] ARCHIVE...`: reads every entry of each archive through
// the CRC-32 check, or for encrypted entries through decryption and the authentication code
// (passwords: the file, or the configured "Archive password").
// Prints "ARCHIVE: OK" for a sound archive; for a damaged one "ARCHIVE: CHYBA" followed by one
// indented line per bad entry (or for the unreadable directory) with the reason.

#include <ostream>
#include <string>
#include <vector>

namespace sejfko {

// Exit code: 0 when every archive is sound, 1 otherwise, 2 wrong use.
// An encrypted archive without a fitting password is one bad line ("CHYBA" with the reason).
int RunVerifyCommand(std::vector<std::string> arguments, const std::string& configDirectory,
                     std::ostream& out, std::ostream& err);

}  // namespace sejfko
