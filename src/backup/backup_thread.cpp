// The worker thread: start, cooperative pause, stop, the main loop and the schedule hooks.
//
// The thread object owns one std::thread that runs Execute. "Suspended" is a state of the worker
// itself: it is suspended before it first starts and when it has paused at the one safe point at
// the end of a pass (never inside a run or a transfer). Resume and a terminate request are the
// only ways out of a pause; every wait is on a condition variable, so Terminate wakes the sleep
// between passes at once. The backup run itself is in backup_run.cpp.

#include "backup/backup_thread.hpp"

#include <utility>

#include "backup/schedule.hpp"
#include "backup/selection_file.hpp"
#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/file_system.hpp"
#include "platform/message_sink.hpp"
#include "platform/thread_priority.hpp"

namespace sejfko {

std::unique_ptr<TBackupThread> BackupThread;

namespace {

constexpr const char* IncSelectName = "IncSelect.ini";
constexpr auto PassSleep = std::chrono::milliseconds(1000);
constexpr auto PauseRequestWait = std::chrono::milliseconds(100);
constexpr auto PausePoll = std::chrono::milliseconds(50);
// Passes between two transfer checks, counted from 0.
constexpr int32_t TransferTickLimit = 60;

// The lock held while the program's worker exists.
std::unique_ptr<TDataDirectoryLock> WorkerLock;

}  // namespace

TBackupThread::TBackupThread() {
    const std::string directory = Options.Directory();
    IncSelectPath = directory.empty() ? std::string(IncSelectName)
                                      : IncludeTrailingPathDelimiter(directory) + IncSelectName;
}

TBackupThread::~TBackupThread() {
    Terminate();
    WaitFor();
}

void TBackupThread::Resume() {
    std::unique_lock lock(FStateLock);
    if (!FStarted) {
        FStarted = true;
        FSuspended = false;
        FThread = std::thread([this] { ThreadMain(); });
        return;
    }
    if (FSuspended) {
        FSuspended = false;
        lock.unlock();
        FStateChanged.notify_all();
    }
}

bool TBackupThread::Suspended() const {
    std::lock_guard lock(FStateLock);
    return FSuspended;
}

void TBackupThread::Terminate() {
    {
        std::lock_guard lock(FStateLock);
        FTerminated.store(true);
    }
    FTerminateEvent.Set();
    FStateChanged.notify_all();
}

bool TBackupThread::Terminated() const {
    return FTerminated.load();
}

void TBackupThread::WaitFor() {
    {
        std::unique_lock lock(FStateLock);
        if (!FStarted) {
            // Never started: there is no thread to end.
            return;
        }
    }
    Resume();
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) {
        FThread.join();
    }
}

bool TBackupThread::WaitUntilSuspended(std::chrono::milliseconds timeout) {
    std::unique_lock lock(FStateLock);
    return FStateChanged.wait_for(lock, timeout, [this] { return FSuspended; });
}

void TBackupThread::ThreadMain() {
    LowerCurrentThreadPriority();
    try {
        Execute();
    } catch (...) {
        // Execute guards every pass; this is the last line against a fault in a test override.
        ShowException(std::current_exception());
    }
    std::lock_guard lock(FStateLock);
    FSuspended = false;
}

void TBackupThread::PauseHere() {
    {
        std::unique_lock lock(FStateLock);
        FSuspended = true;
        FStateChanged.notify_all();
        FStateChanged.wait(lock, [this] { return !FSuspended || FTerminated.load(); });
        FSuspended = false;
    }
    // A request signalled again while this one was being taken must not pause a second time.
    SuspendEvent.WaitFor(std::chrono::milliseconds(0));
}

void TBackupThread::SleepBetweenPasses(std::chrono::milliseconds duration) {
    std::unique_lock lock(FStateLock);
    FStateChanged.wait_for(lock, duration, [this] { return FTerminated.load(); });
}

bool TBackupThread::WaitForPauseRequest(std::chrono::milliseconds timeout) {
    return SuspendEvent.WaitFor(timeout);
}

bool TBackupThread::DueNow() const {
    return Now() > NextRun.load() && !Options.FileChoose().empty();
}

void TBackupThread::Execute() {
    ComputeNextRun(true);
    while (!Terminated()) {
        int32_t tick = TransferTick.load() + 1;
        if (tick > TransferTickLimit) {
            tick = 0;
        }
        TransferTick.store(tick);
        FSkipRestOfPass = false;
        try {
            FollowOptionsFile();
            if (DueNow()) {
                RunBackup();
            }
            if (Terminated()) {
                break;
            }
            if (FSkipRestOfPass) {
                continue;
            }
            if (tick == 0 && Options.SavingKind() == skRemote &&
                Options.FileCountForTransfer() > 0) {
                while (Options.FileCountForTransfer() > 0 && !Terminated()) {
                    if (!TransferBackup()) {
                        break;
                    }
                }
            }
            if (Terminated()) {
                break;
            }
            if (WaitForPauseRequest(PauseRequestWait) && !Terminated()) {
                PauseHere();
                if (Terminated()) {
                    break;
                }
                ReplanFromOptions();
            }
        } catch (...) {
            // RunBackup has done its closing steps on the way out; the loop goes on.
            ShowException(std::current_exception());
        }
        if (Terminated()) {
            break;
        }
        SleepBetweenPasses(PassSleep);
    }
}

void TBackupThread::FollowOptionsFile() {
    const TDateTime lastRun = Options.LastRun();
    const int32_t runEvery = Options.RunEvery();
    const TDateTime inTime = Options.InTime();
    if (Options.ReloadIfChanged() &&
        (Options.LastRun() != lastRun || Options.RunEvery() != runEvery ||
         Options.InTime() != inTime)) {
        // As after a save in the options dialog.
        ReplanFromOptions();
    } else if (PlannedBeyondReach(NextRun.load(), Options.RunEvery(), Now())) {
        // The clock went back: the next slot from the present, not a run at once.
        ComputeNextRun(false);
    }
}

void TBackupThread::ReplanFromOptions() {
    if (FSelectionMissing) {
        TStringList include;
        TStringList exclude;
        const std::string selection = ResolveDataPath(Options.Directory(), Options.FileChoose());
        if (ReadSelectionFile(selection, include, exclude) == TSelectionResult::Unreadable) {
            // Planned from "Last run" (the never-marker) the failing run would start again at
            // once and ask for the file again, for ever: it waits for the next slot instead,
            // or for an immediate backup.
            if (NextRun.load() > Now()) {
                PostToMain(WM_BACKUP_STATUS, bsIdle, 0);
            } else {
                ComputeNextRun(false);
            }
            return;
        }
        FSelectionMissing = false;
    }
    ComputeNextRun(true);
}

void TBackupThread::ComputeNextRun(bool Initial) {
    NextRun.store(NextRunTime(Initial, Options.LastRun(), NextRun.load(), Options.RunEvery(),
                              Options.InTime(), Now()));
    PostToMain(WM_BACKUP_STATUS, bsIdle, 0);
}

bool TBackupThread::IsIncrementalRun(TDateTime LastRun) const {
    return IncrementalRunAllowed(Options.BackupKind(), Options.CompletelyWeekBackupDay(),
                                 Options.CompletelyMonthBackupDay(), Options.InTime(), LastRun,
                                 Now());
}

void TBackupThread::ArchiveProgress(int32_t Percent, bool& Abort) {
    if (Percent != LastPercent.load()) {
        LastPercent.store(Percent);
        PostToMain(WM_BACKUP_STATUS, bsArchiveProgress, Percent);
    }
    Abort = Terminated();
}

void TBackupThread::QueryTerminated(bool& Abort) {
    Abort = Terminated();
}

// ---- The front end's calls ----------------------------------------------------------------

void SuspendBackupThread(const std::function<void()>& processMessages) {
    if (BackupThread && BackupThread->Suspended()) {
        BackupThread->Resume();
    }
    while (BackupThread && !BackupThread->Suspended() && !BackupThread->Terminated()) {
        BackupThread->SuspendEvent.Set();
        if (processMessages) {
            processMessages();
        }
        BackupThread->WaitUntilSuspended(PausePoll);
    }
}

void ResumeBackupThread() {
    if (BackupThread) {
        BackupThread->Resume();
    }
}

bool StartBackupThread(std::string& errorText) {
    if (BackupThread) {
        return true;
    }
    auto lock = std::make_unique<TDataDirectoryLock>(Options.Directory());
    if (!lock->TryAcquire()) {
        errorText = lock->ErrorText();
        return false;
    }
    WorkerLock = std::move(lock);
    BackupThread = std::make_unique<TBackupThread>();
    BackupThread->Resume();
    return true;
}

void StopBackupThread() {
    if (BackupThread) {
        BackupThread->Terminate();
        BackupThread->WaitFor();
        BackupThread.reset();
    }
    WorkerLock.reset();
}

}  // namespace sejfko
