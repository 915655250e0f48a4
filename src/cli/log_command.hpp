#pragma once
// `sejfko-cli log [--last N] [--json]`: the history of runs, transfers and restores, as a table
// (oldest first) or as the stored JSON lines.

#include <ostream>
#include <string>
#include <vector>

namespace sejfko {

// Exit code: 0, or 2 for wrong arguments.
int RunLogCommand(const std::vector<std::string>& arguments, const std::string& dataDirectory,
                  std::ostream& out, std::ostream& err);

}  // namespace sejfko
