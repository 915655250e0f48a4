#pragma once
// `sejfko-cli pack [--password-file FILE] DEST PATH...`: runs the archive job on the given files
// and directories into DEST (a directory receiving a generated "Backup_..._full.fbk", or an archive
// name), as the worker does: complete, replacing an archive of the same name without asking. With a
// password file (one password in it) every entry is encrypted with AES-256.

#include <ostream>
#include <string>
#include <vector>

namespace sejfko {

// `arguments` are DEST and the paths. Progress goes to `err`: a bar redrawn in place when
// `errIsTerminal`, else one line per ten percent. The job's result text goes to `out`. Returns
// 0 on success, 1 when the job fails, 2 for wrong use.
int RunPackCommand(std::vector<std::string> arguments, std::ostream& out, std::ostream& err,
                   bool errIsTerminal);

}  // namespace sejfko
