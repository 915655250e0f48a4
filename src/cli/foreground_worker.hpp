#pragma once
// A worker that is never started: one backup run or one series of transfers happens on the
// calling thread, as the desktop program's worker would make it, with the data directory's lock
// held, the notifications printed and Ctrl+C / SIGTERM turned into its terminate request (a
// second one, or the work not ending within WorkerStopBound, ends the process at once).

#include <ostream>
#include <string>

#include "backup/backup_thread.hpp"
#include "cli/status_printer.hpp"
#include "cli/stop_requests.hpp"
#include "platform/data_directory.hpp"
#include "platform/message_sink.hpp"

namespace sejfko {

class TForegroundWorker {
public:
    TForegroundWorker(const std::string& configDirectory, std::ostream& err, bool errIsTerminal);
    TForegroundWorker(const TForegroundWorker&) = delete;
    TForegroundWorker& operator=(const TForegroundWorker&) = delete;

    // Takes the data directory's lock; false (the reason written to `err`) when another process
    // holds it. Nothing else may be used before this succeeded.
    bool Acquire(std::ostream& err);

    TBackupThread& Worker() { return FWorker; }
    const TStatusPrinter& Printer() const { return FPrinter; }
    // True when the user asked for a stop (or the worker was told to end).
    bool Interrupted() const { return FInterrupt.Requested() || FWorker.Terminated(); }
    // The exit status of a stopped command: 130 after Ctrl+C, 143 after SIGTERM.
    int InterruptedExitCode() const {
        return FInterrupt.ExitCode() != 0 ? FInterrupt.ExitCode() : 130;
    }

private:
    TDataDirectoryLock FLock;
    TStatusPrinter FPrinter;
    TScopedMessageSink FSink;
    TBackupThread FWorker;
    TStopRequests FInterrupt;
};

}  // namespace sejfko
