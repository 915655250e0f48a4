#include "cli/transfer_command.hpp"

#include <exception>

#include "backup/backup_thread.hpp"
#include "cli/foreground_worker.hpp"
#include "config/options.hpp"
#include "transfer/transfer_backup.hpp"

namespace sejfko {

int RunTransferCommand(const std::string& configDirectory, std::ostream& out, std::ostream& err,
                       bool errIsTerminal) {
    try {
        Options.Load(configDirectory);
        if (Options.SavingKind() != skRemote) {
            if (Options.FileCountForTransfer() > 0) {
                err << "Zálohy se ukládají místně (\"Saving kind\" = 0), na server se nic "
                       "neposílá.\n";
                return 1;
            }
            out << "Zálohy se ukládají místně, žádný soubor nečeká na přenos.\n";
            return 0;
        }
        TForegroundWorker foreground(configDirectory, err, errIsTerminal);
        if (!foreground.Acquire(err)) {
            return 1;
        }
        TBackupThread& worker = foreground.Worker();
        int sent = 0;
        bool failed = false;
        while (Options.FileCountForTransfer() > 0 && !worker.Terminated()) {
            if (!worker.TransferBackup()) {
                failed = true;
                break;
            }
            ++sent;
        }
        if (foreground.Interrupted()) {
            err << "Přenos byl přerušen.\n";
            return foreground.InterruptedExitCode();
        }
        // A call can fail after its archive reached the server (its local copy could not be
        // deleted): nothing waits then, but the user must hear of it.
        const int waiting = Options.FileCountForTransfer();
        if (failed || waiting > 0) {
            const std::string reason = LastTransferErrorText();
            err << "Přenos selhal" << (reason.empty() ? "" : ": " + reason) << "\n";
            if (waiting > 0) {
                err << "Na přenos čeká souborů: " << waiting << "\n";
            }
            return 1;
        }
        out << "Přeneseno souborů: " << sent << "; na přenos nic nečeká.\n";
        return 0;
    } catch (const std::exception& failure) {
        err << failure.what() << "\n";
        return 1;
    }
}

}  // namespace sejfko
