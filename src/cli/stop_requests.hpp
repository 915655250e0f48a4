#pragma once
// Ctrl+C and SIGTERM for the commands that run the worker (run, transfer, daemon). The first
// request calls `onFirst` (the worker's terminate request, which every wait sees within about a
// second) and gives the work `bound` to end; a second request, or the bound passing, ends the
// process at once with the same exit status (130 after SIGINT, 143 after SIGTERM).

#include <atomic>
#include <chrono>
#include <functional>

#include "backup/backup_thread.hpp"
#include "platform/exit_watchdog.hpp"
#include "platform/termination_signals.hpp"

namespace sejfko {

class TStopRequests {
public:
    // Tests give their own `exitNow`, which may return.
    explicit TStopRequests(std::function<void()> onFirst,
                           std::chrono::milliseconds bound = WorkerStopBound,
                           TExitWatchdog::TExit exitNow = TExitWatchdog::ExitNow);
    TStopRequests(const TStopRequests&) = delete;
    TStopRequests& operator=(const TStopRequests&) = delete;

    // Blocks until the first request.
    void Wait() { FWatcher.Wait(); }
    bool Requested() const { return FWatcher.Requested(); }
    // 130 or 143 after a request, else 0.
    int ExitCode() const { return FWatcher.ExitCode(); }

private:
    void OnRequest();

    std::function<void()> FOnFirst;
    std::chrono::milliseconds FBound;
    TExitWatchdog::TExit FExit;
    std::atomic<int> FRequests{0};
    TExitWatchdog FWatchdog;
    // Last: it is destroyed first, so no request arrives while the rest goes.
    TTerminationWatcher FWatcher;
};

}  // namespace sejfko
