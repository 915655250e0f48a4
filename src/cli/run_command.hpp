#pragma once
// `sejfko-cli run`: one backup run now with the current options, as the desktop program's
// immediate backup makes it. `sejfko-cli daemon`: the worker's schedule and transfers in the
// foreground until SIGINT or SIGTERM, then a clean stop.

#include <ostream>
#include <string>

namespace sejfko {

// Loads the global options from `configDirectory`. Status lines and the progress bar go to
// `err`, the run's result text to `out`. 0 when an archive was made or an incremental run found
// nothing to save, 1 otherwise (no selection file, another process holds the data directory,
// the job failed, the run was interrupted).
int RunBackupCommand(const std::string& configDirectory, std::ostream& out, std::ostream& err,
                     bool errIsTerminal);

// Runs until a termination request; one time-stamped line per notification on `err`. 0 after a
// clean stop, 1 when the worker could not be started.
int RunDaemonCommand(const std::string& configDirectory, std::ostream& out, std::ostream& err);

}  // namespace sejfko
