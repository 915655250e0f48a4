#pragma once
// TDiRestore: getting files back from the desktop. The source is the backup of the options (the
// local backup folder, or the FTP server with the archives still waiting for transfer) or
// another folder of archives; the dialog lists the points in time that source can restore
// (every complete archive and each archive after it), the files of the chosen point in a tree
// with check boxes, and restores the checked ones into a target folder, or with "Obnovit na
// původní místo" back where they were, asking first before newer files there are replaced. All
// reading, downloading and writing runs on TRestoreWorker's thread through the core's restore;
// "Zrušit" stops it, and no partial file is ever left under its final name.
//
// The result is shown in the dialog and announced by RestoreFinished (the main window makes a
// notification of it). GUI thread only.

#include <QDialog>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "gui/restore_worker.hpp"
#include "restore/restore_chain.hpp"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace sejfko {

class TFileTree;
class TRestoreDownloads;

class TDiRestore : public QDialog {
    Q_OBJECT
public:
    // Reads the source of the options (the global Options, loaded from `dataDirectory`, where
    // the restore's history record goes too) and starts listing its points.
    explicit TDiRestore(const std::string& dataDirectory, QWidget* parent = nullptr);
    ~TDiRestore() override;

    bool Busy() const { return FWorker->Busy(); }
    bool Restoring() const { return FRestoring; }
    // The points listed, oldest first.
    const std::vector<TArchiveRef>& Points() const { return FPoints; }
    // Another folder of archives as the source (what "Procházet..." chooses).
    void UseSourceFolder(const QString& folder);
    // Ends a running job without a question and closes (the end of the session).
    void CancelAndClose();
    QString ResultText() const { return FResultText; }

    QRadioButton* RbOptionsSource = nullptr;
    QRadioButton* RbFolderSource = nullptr;
    QLineEdit* EdSourceFolder = nullptr;
    QPushButton* BtnSourceFolder = nullptr;
    QTreeWidget* LvPoints = nullptr;
    TFileTree* TvFiles = nullptr;
    QLineEdit* EdTarget = nullptr;
    QPushButton* BtnTarget = nullptr;
    QCheckBox* CbOriginalPlace = nullptr;
    QProgressBar* PbProgress = nullptr;
    QLabel* LblStep = nullptr;
    QPlainTextEdit* MeResult = nullptr;
    QPushButton* BtnRestore = nullptr;
    QPushButton* BtnCancel = nullptr;
    QPushButton* BtnClose = nullptr;

public slots:
    void reject() override;

signals:
    void RestoreStarted();
    void RestoreProgress(int percent);
    // The summary (first line: the outcome) and whether everything asked for was restored.
    void RestoreFinished(const QString& summary, bool succeeded);

private:
    void CreateLayout();
    TRestoreSource Source();
    void ReloadPoints();
    void FillPoints(std::vector<TArchiveRef> points, const QString& error);
    void LoadFiles();
    void StartRestore();
    // The options of the restore the user asked for; false when it is not to start.
    bool AskRestoreOptions(TRestoreOptions& options, QStringList& keptNewer);
    void ShowOutcome(const TRestoreOutcome& outcome, const QStringList& keptNewer);
    void UpdateControls();

    std::string FDataDirectory;
    TRestoreWorker* FWorker = nullptr;
    std::unique_ptr<TRestoreDownloads> FDownloads;
    std::vector<TArchiveRef> FPoints;
    std::vector<TArchiveRef> FChain;  // of the point whose files the tree shows, local paths
    bool FRestoring = false;
    QString FResultText;
};

}  // namespace sejfko
