// The main window's part in restores: the restore dialog and the "Historie" window, and the tray
// during a restore, animated and with its progress as during a backup.

#include <QLabel>

#include "config/options.hpp"
#include "gui/history_window.hpp"
#include "gui/main_window.hpp"
#include "gui/main_window_nested.hpp"
#include "gui/restore_dialog.hpp"

namespace sejfko {

void TFoMain::ExecuteRestoreDialog() {
    if (FRestoreDialog != nullptr) {
        FRestoreDialog->raise();
        FRestoreDialog->activateWindow();
        return;
    }
    TNestedGuard guard(*this);
    TDiRestore dialog(Options.Directory());
    FRestoreDialog = &dialog;
    connect(&dialog, &TDiRestore::RestoreStarted, this, &TFoMain::RestoreStarted);
    connect(&dialog, &TDiRestore::RestoreProgress, this, &TFoMain::RestoreProgress);
    connect(&dialog, &TDiRestore::RestoreFinished, this, &TFoMain::RestoreFinished);
    dialog.exec();
    FRestoreDialog = nullptr;
}

void TFoMain::ShowHistory() {
    TNestedGuard guard(*this);
    TDiHistory window(Options.Directory());
    window.exec();
}

void TFoMain::RestoreStarted() {
    FRestoring = true;
    TrayIcon->SetIconList(ILBackup);
    TrayIcon->SetCycleIcons(true);
    AcRestore->setEnabled(false);
    SetHint(QStringLiteral("Sejfko - obnova souborů"));
    Balloon(QStringLiteral("Probíhá obnova souborů"), TBalloonKind::Information);
    LblState->setText(FHint);
}

void TFoMain::RestoreProgress(int percent) {
    SetHint(QStringLiteral("Sejfko - obnova souborů ") + QString::number(percent) +
            QLatin1Char('%'));
    LblState->setText(FHint);
}

void TFoMain::RestoreFinished(const QString& summary, bool succeeded) {
    FRestoring = false;
    // A backup or an upload that runs meanwhile keeps its animation until it ends.
    if (!FWorker.BackupRunning() && !FWorker.TransferRunning()) {
        TrayIcon->SetCycleIcons(false);
        TrayIcon->SetIconIndex(0);
    }
    AcRestore->setEnabled(true);
    SetHint(summary.section(QLatin1Char('\n'), 0, 0));
    Balloon(summary, succeeded ? TBalloonKind::Information : TBalloonKind::Error);
    LblState->setText(FHint);
}

}  // namespace sejfko
