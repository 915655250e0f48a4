#pragma once
// The command-line front end: global options, then one command.
//
//   sejfko-cli [--config-dir DIR] status
//   sejfko-cli [--config-dir DIR] config "KEY" [VALUE]
//
// The options are loaded from DIR/Options.ini (default: the data directory). Output goes to
// `out`, messages to `err`, so that tests can run it in-process.

#include <ostream>

namespace sejfko {

// Exit codes: 0 success, 1 failure while working (a file could not be written), 2 wrong use
// (no or unknown command, unknown key, invalid value).
int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace sejfko
