#include "cli/run_command.hpp"

#include <exception>

#include "archive/backup_job.hpp"
#include "backup/backup_thread.hpp"
#include "cli/foreground_worker.hpp"
#include "cli/status_printer.hpp"
#include "cli/stop_requests.hpp"
#include "config/options.hpp"
#include "platform/data_directory.hpp"
#include "platform/file_io.hpp"
#include "platform/message_sink.hpp"

namespace sejfko {

namespace {

constexpr const char* NoSelectionText =
    "Není nastaven soubor s výběrem (\"File choose\"); nastavte ho příkazem config nebo v "
    "dialogu nastavení.";
constexpr const char* NothingSelectedText =
    "Výběr neobsahuje nic k zálohování, archiv nebyl vytvořen.";
constexpr const char* NothingChangedText =
    "Od poslední zálohy se nic nezměnilo, archiv nebyl "
    "vytvořen.";

// The selection file is checked before the run so that the user gets the reason, not only the
// worker's notification.
bool SelectionReadable(const std::string& configDirectory, std::string& path) {
    path = ResolveDataPath(configDirectory, Options.FileChoose());
    TReadFile file;
    return file.Open(path);
}

}  // namespace

int RunBackupCommand(const std::string& configDirectory, std::ostream& out, std::ostream& err,
                     bool errIsTerminal) {
    try {
        Options.Load(configDirectory);
        if (Options.FileChoose().empty()) {
            err << NoSelectionText << "\n";
            return 1;
        }
        std::string selection;
        if (!SelectionReadable(configDirectory, selection)) {
            err << SelectionMissingText << " (" << selection << ")\n";
            return 1;
        }
        TForegroundWorker foreground(configDirectory, err, errIsTerminal);
        if (!foreground.Acquire(err)) {
            return 1;
        }
        const std::string previousMessage = LastMessage();
        foreground.Worker().RunBackup();

        if (foreground.Interrupted()) {
            err << "Zálohování bylo přerušeno.\n";
            return foreground.InterruptedExitCode();
        }
        const TStatusPrinter& printer = foreground.Printer();
        if (printer.SelectionMissing() || printer.ExceptionShown() || !printer.RunFinished()) {
            return 1;
        }
        if (foreground.Worker().LastRunChangedNothing()) {
            out << NothingChangedText << "\n";
            return 0;
        }
        if (Options.LastRun() > NeverMarker) {
            out << LastMessage() << "\n";
            for (const std::string& skipped : LastSkippedFiles()) {
                err << "Vynecháno: " << skipped << "\n";
            }
            return 0;
        }
        // No archive: the job failed (it left a new result text), or it never ran because the
        // selection names nothing.
        const std::string message = LastMessage();
        if (message != previousMessage) {
            out << message << "\n";
            return 1;
        }
        out << NothingSelectedText << "\n";
        return 1;
    } catch (const std::exception& failure) {
        err << failure.what() << "\n";
        return 1;
    }
}

int RunDaemonCommand(const std::string& configDirectory, std::ostream& out, std::ostream& err) {
    try {
        Options.Load(configDirectory);
        TStatusPrinter printer(err, false, true);
        TScopedMessageSink sink(printer);
        // The main thread ends the worker itself after the first request.
        TStopRequests stop({});
        std::string errorText;
        if (!StartBackupThread(errorText)) {
            err << errorText << "\n";
            return 1;
        }
        out << "Sejfko běží (data: " << configDirectory << "); ukončení Ctrl+C." << std::endl;
        stop.Wait();
        err << "Ukončuji, čekám na dokončení rozpracované činnosti (další Ctrl+C ukončí "
               "okamžitě)...\n"
            << std::flush;
        StopBackupThread();
        out << "Sejfko ukončeno." << std::endl;
        // Ending on request is how a daemon ends: success for a shell and a service manager.
        return 0;
    } catch (const std::exception& failure) {
        StopBackupThread();
        err << failure.what() << "\n";
        return 1;
    }
}

}  // namespace sejfko
