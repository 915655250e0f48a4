#pragma once
// `sejfko-cli list ARCHIVE`: the entries of a zip archive, one line each (size, compressed size,
// date and time of the MS-DOS stamp, CRC-32, name), under a header line and above a summary with
// the count and the totals.

#include <ostream>
#include <string>
#include <vector>

namespace sejfko {

// Exit code: 0 listed, 1 the archive cannot be read (message on `err`), 2 not exactly one
// argument.
int RunListCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// A name fit for a terminal: control characters (a hostile archive may hold escape sequences or
// line breaks in names) become "?".
std::string PrintableName(const std::string& name);

}  // namespace sejfko
