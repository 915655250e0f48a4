#pragma once
// What the windows need of the backup worker, behind one interface: the real one drives the
// program's BackupThread; tests put a scripted stand-in in its place. GUI thread only.

#include <functional>
#include <memory>
#include <string>

#include "platform/date_time.hpp"

namespace sejfko {

class TWorkerControl {
public:
    virtual ~TWorkerControl() = default;
    // Starts the worker (holding the data directory's lock); false with a Czech `errorText`
    // when it cannot start. Does nothing when a worker exists.
    virtual bool Start(std::string& errorText) = 0;
    // Ends the worker and waits for it (the real one ends the process when the worker is still
    // running WorkerStopBound after the request); safe without a worker.
    virtual void Stop() = 0;
    virtual bool Exists() const = 0;
    // Brings the worker to its safe point, running `processMessages` while it waits.
    virtual void Suspend(const std::function<void()>& processMessages) = 0;
    virtual void Resume() = 0;
    virtual bool BackupRunning() const = 0;
    virtual bool TransferRunning() const = 0;
    virtual TDateTime NextRun() const = 0;
    virtual void SetNextRun(TDateTime value) = 0;
};

// The control of the program's one BackupThread.
std::unique_ptr<TWorkerControl> MakeBackupThreadControl();

}  // namespace sejfko
