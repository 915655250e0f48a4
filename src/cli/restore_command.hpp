#pragma once
// `sejfko-cli restore --to DIR [--at "YYYY-MM-DD HH:MM"] [--only PATH]... [--dry-run] [--force]
// SOURCE...`: restores the chain of archives that ends at the restore point (default: the
// newest archive) from SOURCEs (directories of archives or archive files) into DIR. With
// `--from-server` instead of SOURCEs, the chain is downloaded from the FTP server of the options
// (Options.ini in `configDirectory`, default the data directory) into a private directory below
// the "Local temporary directory", which is removed afterwards.
//
// Progress and problems go to `err` (one line per archive; a percentage redrawn in place when
// `errIsTerminal`); a dry run lists what would be removed and written on `out`; the summary
// (archives used, files written, files removed, bytes) always goes to `out`.

#include <ostream>
#include <string>
#include <vector>

namespace sejfko {

// `arguments` follow the command name. Exit code: 0 when everything asked for was restored, 1
// on any failure (no chain, a refused or unwritable file, a damaged archive, ...), 2 for wrong
// use (unknown option, missing --to or SOURCE, SOURCE with --from-server, malformed --at or
// --only).
int RunRestoreCommand(const std::vector<std::string>& arguments, const std::string& configDirectory,
                      std::ostream& out, std::ostream& err, bool errIsTerminal);

}  // namespace sejfko
