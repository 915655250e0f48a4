#include "cli/transfer_command.hpp"

#include <exception>

#include "backup/backup_thread.hpp"
#include "cli/status_printer.hpp"
#include "config/options.hpp"
#include "platform/data_directory.hpp"
#include "platform/message_sink.hpp"
#include "platform/termination_signals.hpp"
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
        TDataDirectoryLock lock(configDirectory);
        if (!lock.TryAcquire()) {
            err << lock.ErrorText() << "\n";
            return 1;
        }
        TStatusPrinter printer(err, errIsTerminal, false);
        TScopedMessageSink sink(printer);
        TBackupThread worker;  // never started: the transfer happens on this thread
        TTerminationWatcher interrupt([&worker] { worker.Terminate(); });
        int sent = 0;
        while (Options.FileCountForTransfer() > 0 && !worker.Terminated()) {
            if (!worker.TransferBackup()) {
                break;
            }
            ++sent;
        }
        if (interrupt.Requested() || worker.Terminated()) {
            err << "Přenos byl přerušen.\n";
            return 1;
        }
        const int waiting = Options.FileCountForTransfer();
        if (waiting > 0) {
            const std::string reason = LastTransferErrorText();
            err << "Přenos selhal" << (reason.empty() ? "" : ": " + reason) << "\n";
            err << "Na přenos čeká souborů: " << waiting << "\n";
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
