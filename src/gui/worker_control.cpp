#include "gui/worker_control.hpp"

#include "backup/backup_thread.hpp"
#include "platform/exit_watchdog.hpp"

namespace sejfko {

namespace {

class TBackupThreadControl final : public TWorkerControl {
public:
    bool Start(std::string& errorText) override {
        if (BackupThread) {
            return true;
        }
        return StartBackupThread(errorText);
    }
    void Stop() override {
        // Every wait of the worker sees the request within about a second; should it still be
        // stuck somewhere no request reaches, the program ends anyway instead of hanging.
        TExitWatchdog watchdog;
        if (BackupThread) {
            watchdog.Arm(WorkerStopBound, 1, WorkerStopLateText);
        }
        StopBackupThread();
    }
    bool Exists() const override { return BackupThread != nullptr; }
    void Suspend(const std::function<void()>& processMessages) override {
        SuspendBackupThread(processMessages);
    }
    void Resume() override { ResumeBackupThread(); }
    bool BackupRunning() const override { return BackupThread && BackupThread->BackupRunning; }
    bool TransferRunning() const override { return BackupThread && BackupThread->TransferRunning; }
    TDateTime NextRun() const override { return BackupThread ? BackupThread->NextRun.load() : 0.0; }
    void SetNextRun(TDateTime value) override {
        if (BackupThread) {
            BackupThread->NextRun.store(value);
        }
    }
};

}  // namespace

std::unique_ptr<TWorkerControl> MakeBackupThreadControl() {
    return std::make_unique<TBackupThreadControl>();
}

}  // namespace sejfko
