#pragma once
// TFoMain: the program's main window and the receiver of every notification of the worker and
// the options store. A small tool window, hidden most of the time, with the current state, the
// last backup, the archives waiting for transfer and the last transfer; it owns the tray icon
// (animated while a backup, a transfer or a restore runs, tooltip = state text, balloons at the
// start and end of each) and the commands reachable from the tray menu and the buttons; the
// restore dialog and the "Historie" window open from here.
//
// Where the desktop has no notification area (GNOME, many Wayland sessions), the window is shown
// at start and carries the tray menu's "Konec" as a button, and the balloons go to the desktop's
// notification service instead.
//
// Closing only hides the window to the tray unless the "Konec" command (FExiting) or the end of
// the desktop session (FSessionEnding) asked for it; then the worker is stopped first, with the
// user's consent while it is busy. A close asked for while a dialog or a worker pause is in
// progress waits until that has ended, so nothing is destroyed under a running nested loop.
// GUI thread only; other threads reach the window through TGuiMessageSink.

#include <QAction>
#include <QWidget>
#include <cstdint>
#include <string>

#include "gui/tray_icon.hpp"
#include "gui/worker_control.hpp"

class QLabel;
class QMenu;
class QPushButton;

namespace sejfko {

class TDesktopNotifier;
class TDiOptions;
class TDiRestore;

class TFoMain : public QWidget {
    Q_OBJECT
public:
    // The window hidden, the tray icon shown with the idle picture; no options loaded, no worker.
    explicit TFoMain(TWorkerControl& worker, QWidget* parent = nullptr);
    ~TFoMain() override;

    // The creation steps: loads the options from `dataDirectory`, fills the three labels,
    // starts the worker. Shows the window when the desktop has no notification area.
    void Initialize(const std::string& dataDirectory);

    // Handles one message of the notification protocol (WM_BACKUP_STATUS ... WM_OPEN_OPTIONS).
    void HandleMessage(unsigned message, intptr_t wParam, intptr_t lParam);

    void StartWorker();
    // Stops the worker, asking first while it is busy (not at the end of the session); false
    // when the user declines.
    bool StopWorker();
    // The options dialog, unless one is open already; the result says whether it saved.
    bool ExecuteOptionsDialog();
    bool OptionsDialogOpen() const { return FOptionsDialog != nullptr; }
    TDiOptions* OptionsDialog() const { return FOptionsDialog; }
    // The restore dialog, unless one is open already (then it is raised).
    void ExecuteRestoreDialog();
    TDiRestore* RestoreDialog() const { return FRestoreDialog; }
    void ShowHistory();

    void ShowMainWindow();
    void HideMainWindow();
    // The session manager asks whether the session may end: yes, without a question. Only the
    // flag is set; nothing ends yet (the logout may still be cancelled, or it was a
    // checkpoint). A close request after it ends the program without asking.
    void QueryEndSession();
    // The end of the desktop session itself (SIGTERM): no question, open dialogs are
    // cancelled, the worker is stopped and the program ends.
    void EndSession();

    bool Exiting() const { return FExiting; }
    bool SessionEnding() const { return FSessionEnding; }
    QString Hint() const { return FHint; }

    // Components, named as everywhere in the program.
    QAction* AcExit = nullptr;
    QAction* AcBackupImm = nullptr;
    QAction* AcOptions = nullptr;
    QAction* AcShowMain = nullptr;
    QAction* AcAbout = nullptr;
    QAction* AcRestore = nullptr;
    QAction* AcHistory = nullptr;
    QLabel* LblState = nullptr;
    QLabel* LblLastRun = nullptr;
    QLabel* LblFileCount = nullptr;
    QLabel* LblLastTransfer = nullptr;
    QPushButton* BtnOptions = nullptr;
    QPushButton* BtnBackupImm = nullptr;
    QPushButton* BtnAbout = nullptr;
    QPushButton* BtnRestore = nullptr;
    QPushButton* BtnHistory = nullptr;
    QPushButton* BtnClose = nullptr;
    // "Konec" in the window itself: only where the desktop has no notification area.
    QPushButton* BtnExit = nullptr;
    QMenu* PMTray = nullptr;
    TTrayIcon* TrayIcon = nullptr;
    // Where balloons go when no notification area shows them.
    TDesktopNotifier* Notifier = nullptr;
    TImageList ILBackup;
    TImageList ILTransfer;

signals:
    // The window accepted a close: the program is to end.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    class TNestedGuard;

    void CreateActions();
    void CreateLayout();
    void CreateTray();
    // Shows the commands that only the tray menu would offer when there is no tray.
    void FollowNotificationArea();
    void BackupStatus(int code, intptr_t percent);
    void SetHint(const QString& hint);
    void Balloon(const QString& text, TBalloonKind kind);
    void LastRunChanged();
    void LastTransferChanged();
    void TransferCountChanged();
    void SelectionMissing();
    void About();
    void LeaveNested();
    // The tray during a restore, as during a backup.
    void RestoreStarted();
    void RestoreProgress(int percent);
    void RestoreFinished(const QString& summary, bool succeeded);

    TWorkerControl& FWorker;
    bool FExiting = false;
    bool FSessionEnding = false;
    bool FClosePending = false;
    bool FClosed = false;
    int FNestedDepth = 0;
    QString FHint;
    TDiOptions* FOptionsDialog = nullptr;
    TDiRestore* FRestoreDialog = nullptr;
    bool FRestoring = false;
};

}  // namespace sejfko
