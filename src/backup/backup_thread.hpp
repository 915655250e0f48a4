#pragma once
// TBackupThread: the one background worker. About once a second it decides whether a backup is
// due and runs it (RunBackup), and about once a minute it sends waiting archives to the server
// when the storage is remote (TransferBackup). It talks to the front end only through posted
// messages (platform/message_sink.hpp) and reads every setting from the global Options when it
// needs it; at the start of each pass it takes in changes another process made to Options.ini.
//
// The thread starts paused: nothing runs until the owner calls Resume. A pause request
// (SuspendBackupThread) is honoured only at the end of a pass, never inside a run or a transfer.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/auto_reset_event.hpp"
#include "platform/cancel_event.hpp"
#include "platform/data_directory.hpp"
#include "platform/date_time.hpp"

namespace sejfko {

class TNetComponent;
enum TWorkMode : uint8_t;

// What the front ends show when the selection file cannot be opened (WM_SELECTION_MISSING).
constexpr const char* SelectionMissingMessage =
    "Soubor s výběrem neexistuje, zvolte ho znovu v dialogu nastavení";

// "Last run" written when a run begins; any value up to it means no successful backup.
constexpr TDateTime NeverMarker = 100.0;

// A worker asked to end sees the request within about a second wherever it waits; a front end
// that has waited this long for it ends the process anyway (platform/exit_watchdog.hpp).
constexpr std::chrono::milliseconds WorkerStopBound{10000};
constexpr const char* WorkerStopLateText =
    "Rozpracovaná činnost neskončila včas, Sejfko končí okamžitě.";

class TBackupThread {
public:
    // Paused; IncSelectPath is "IncSelect.ini" in the options' data directory.
    TBackupThread();
    // Asks the thread to end and waits for it.
    virtual ~TBackupThread();
    TBackupThread(const TBackupThread&) = delete;
    TBackupThread& operator=(const TBackupThread&) = delete;

    // Starts the thread on the first call; later calls end a pause.
    void Resume();
    // True while the thread has not started or has paused itself.
    bool Suspended() const;
    // Sets the terminate request (and wakes any sleep and network wait), without waiting. Any
    // thread may call it.
    void Terminate();
    bool Terminated() const;
    // Waits until the thread has ended (resumes it first when it is paused).
    void WaitFor();
    // Waits up to `timeout` for the thread to pause itself; true when it is paused.
    bool WaitUntilSuspended(std::chrono::milliseconds timeout);

    // Recomputes NextRun from the options and posts bsIdle.
    void ComputeNextRun(bool Initial);
    // True when an incremental backup may be made now, false when a complete one is due.
    bool IsIncrementalRun(TDateTime LastRun) const;
    // One backup run (worker thread only).
    void RunBackup();
    // Keeps the newest "Backup count" archives in "Local directory" (and the chains they need).
    void PruneLocalBackups();
    // Progress callback of the archive job: posts bsArchiveProgress when the value changes.
    void ArchiveProgress(int32_t Percent, bool& Abort);
    // Cancellation callback of the selection operations.
    void QueryTerminated(bool& Abort);
    // True when the last run was incremental and found nothing changed: it saved the state and
    // recorded "Last run" without writing an archive.
    bool LastRunChangedNothing() const { return FLastRunChangedNothing; }
    // Sends the oldest waiting archive to the server; false when nothing more can be sent now.
    bool TransferBackup();
    // Progress of the upload (worker thread): status bsTransferProgress with 0, the percentage
    // (posted when it changes) and 100. TransferWork raises "Terminate transfer" when a
    // terminate request is pending, which stops the upload.
    void TransferWorkBegin(TNetComponent* Sender, TWorkMode AWorkMode, int64_t AWorkCountMax);
    void TransferWork(TNetComponent* Sender, TWorkMode AWorkMode, int64_t AWorkCount);
    void TransferWorkEnd(TNetComponent* Sender, TWorkMode AWorkMode);

    TAutoResetEvent SuspendEvent;
    std::atomic<int32_t> TransferTick{-1};
    std::atomic<int64_t> TransferTotal{0};
    std::atomic<int32_t> LastPercent{0};
    std::string IncSelectPath;
    std::atomic<bool> BackupRunning{false};
    std::atomic<bool> TransferRunning{false};
    // The moment after which the next run starts; written by the worker and by the front end
    // (an immediate backup stores Now()).
    std::atomic<TDateTime> NextRun{0.0};

protected:
    // The thread body: the main loop. A subclass that overrides any of these must end the
    // thread (Terminate, WaitFor) in its own destructor, before its members go.
    virtual void Execute();
    // The pauses of the main loop; they return early when the thread is asked to end. Tests
    // override them to step passes without waiting for real time.
    virtual void SleepBetweenPasses(std::chrono::milliseconds duration);
    // The wait for a pause request at the end of a pass; true when one was taken.
    virtual bool WaitForPauseRequest(std::chrono::milliseconds timeout);

private:
    class TRunClosing;
    void RunBackupSteps(TRunClosing& closing);
    void ThreadMain();
    // Blocks at the safe point until Resume; clears a request that arrived meanwhile.
    void PauseHere();
    bool DueNow() const;
    // At the start of a pass: takes in a change of Options.ini made by another process (a
    // command line `config`, an editor) and plans again when the schedule changed or the plan
    // lies further ahead than the present can reach.
    void FollowOptionsFile();
    // Plans from changed options (after a pause, or a change made by another process); while
    // the selection file that a run could not open is still missing, keeps the next slot.
    void ReplanFromOptions();

    mutable std::mutex FStateLock;
    std::condition_variable FStateChanged;  // FSuspended changed, or a sleep is to end
    std::thread FThread;
    bool FStarted = false;
    bool FSuspended = true;
    std::atomic<bool> FTerminated{false};
    // Set with FTerminated: the network waits of a transfer watch it.
    TCancelEvent FTerminateEvent;
    // Set by a run whose selection file could not be opened: the rest of that pass is skipped.
    bool FSkipRestOfPass = false;
    // Set by a run whose selection file could not be opened, cleared by the next run and by
    // planning once the file can be read again.
    bool FSelectionMissing = false;
    // Name (without directory) of the archive the current run wrote; pruning never deletes it.
    std::string FLastArchive;
    bool FLastRunChangedNothing = false;
};

// The program's worker, or null.
extern std::unique_ptr<TBackupThread> BackupThread;

// Brings the worker to a standstill at its safe point and returns when it has paused.
// `processMessages` lets a front end keep its own events flowing while it waits.
void SuspendBackupThread(const std::function<void()>& processMessages = {});
// Ends a pause; the worker then recomputes NextRun from the options.
void ResumeBackupThread();

// Creates BackupThread and starts it, holding the data directory's lock (Options must be loaded).
// False, with a Czech `errorText`, when another process holds the lock; nothing is started then.
bool StartBackupThread(std::string& errorText);
// Terminates BackupThread, waits for it, frees it and releases the lock. Safe without a worker.
void StopBackupThread();

}  // namespace sejfko
