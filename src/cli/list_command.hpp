#pragma once
// `sejfko-cli list [--password-file FILE] ARCHIVE`: the entries of a zip archive, one line each
// (size, compressed size, date and time of the MS-DOS stamp, CRC-32, name), under a header line
// and above a summary with the count and the totals. An encrypted entry shows its cipher
// ("AES-256") instead of the CRC-32, which the format leaves out. With passwords (the file, or the
// configured "Archive password") the first encrypted entry is checked against them, so a wrong
// password is told at once; names are listed without one.

#include <ostream>
#include <string>
#include <vector>

namespace sejfko {

// Exit code: 0 listed, 1 the archive cannot be read or the password does not fit (message on
// `err`), 2 wrong use. `configDirectory` (empty: the default) gives the configured password.
int RunListCommand(std::vector<std::string> arguments, const std::string& configDirectory,
                   std::ostream& out, std::ostream& err);

// A name fit for a terminal: control characters (a hostile archive may hold escape sequences or
// line breaks in names) become "?".
std::string PrintableName(const std::string& name);

}  // namespace sejfko
