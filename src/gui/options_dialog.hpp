#pragma once
// TDiOptions: the modal dialog in which the user sets every option of the "Options" section:
// schedule, selection file, backup kind with its complete-backup day, destination (local
// directory, or FTP server with a local temporary directory, optionally over TLS with a pinned
// certificate), the number of backups to keep and the password archives are encrypted with
// (typed twice: a save with two different texts is refused).
// LoadFromOptions fills the controls; "OK" and "&Apply" are available only while the options
// are valid; SaveToOptions writes them through the Options setters in a fixed order, raises the
// backup count to the minimum of the incremental kinds, and lets the worker re-plan. A setter
// that cannot write is reported in a message box by the command that saved; the save stops at
// that step. GUI thread only.
//
// Another process (`sejfko-cli config`, a second front end) may write Options.ini while the
// dialog is open: LoadFromOptions takes the file's current values in first, and a save writes
// only the options whose control the user changed from what the dialog showed, so that it never
// undoes a change it did not make.
//
// Beside the options, "Spouštět při přihlášení" writes or removes the desktop's autostart entry
// for the program (gui/autostart.hpp); it is on for a program not yet configured (no selection
// file), so that confirming the dialog of the first start makes the program start at login.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <string>

#include "platform/date_time.hpp"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimeEdit;
class QToolButton;

namespace sejfko {

class TWorkerControl;

// The selection file as it is stored: relative when it lies inside the data directory (the
// directory followed by a separator is a prefix of the path), else unchanged.
QString SelectionPathForOptions(const QString& path, const QString& dataDirectory);

class TDiOptions : public QDialog {
    Q_OBJECT
public:
    explicit TDiOptions(TWorkerControl& worker, QWidget* parent = nullptr);
    ~TDiOptions() override;

    void LoadFromOptions();
    // Writes every control that differs from what LoadFromOptions (or the last save) showed; lets
    // an Options setter's exception pass to the caller.
    void SaveToOptions();
    // Whether "&Apply" or "OK" saved the options.
    bool Applied() const { return FApplied; }

    // The validity check, run by every change.
    void OptionsChanged();

    QAction* AcApply = nullptr;
    QAction* AcOk = nullptr;
    QSpinBox* EdEvery = nullptr;
    QTimeEdit* DTTime = nullptr;
    QLineEdit* EdFile = nullptr;
    QToolButton* BtnFile = nullptr;
    QRadioButton* RBFull = nullptr;
    QRadioButton* RBIncWeek = nullptr;
    QLabel* LblComplete = nullptr;
    QComboBox* CBComplete = nullptr;
    QRadioButton* RBIncMonth = nullptr;
    QLabel* LblMonthComplete = nullptr;
    QSpinBox* SEdComplete = nullptr;
    QLabel* LblMonthCompleteSuffix = nullptr;
    QRadioButton* RBLocal = nullptr;
    QLabel* LblDir = nullptr;
    QLineEdit* EdDir = nullptr;
    QToolButton* BtnDir = nullptr;
    QRadioButton* RBRemote = nullptr;
    QLabel* LblLocalTemp = nullptr;
    QLineEdit* EdLocalTemp = nullptr;
    QToolButton* BtnLocalTemp = nullptr;
    QLabel* LblHost = nullptr;
    QLineEdit* EdHost = nullptr;
    QLabel* LblUser = nullptr;
    QLineEdit* EdUser = nullptr;
    QLabel* LblPassword = nullptr;
    QLineEdit* EdPassword = nullptr;
    QCheckBox* CBPassive = nullptr;
    QCheckBox* CBTls = nullptr;
    QLabel* LblCertificate = nullptr;
    QLineEdit* EdCertificate = nullptr;
    QLabel* LblArchivePassword = nullptr;
    QLineEdit* EdArchivePassword = nullptr;
    QLabel* LblArchivePasswordRepeat = nullptr;
    QLineEdit* EdArchivePasswordRepeat = nullptr;
    QLabel* LblArchivePasswordWarning = nullptr;
    QCheckBox* CBAutostart = nullptr;
    QSpinBox* SEdBackupCount = nullptr;
    QPushButton* BtnOk = nullptr;
    QPushButton* BtnCancel = nullptr;
    QPushButton* BtnApply = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void ConnectControls();
    void RadioClicked(QRadioButton* button);
    void ChooseDirectory(QLineEdit* edit, const QString& caption);
    void ChooseFile();
    // The save of "&Apply" and "OK": false when a setter failed (reported here).
    bool SaveAndReport();
    TDateTime PickerValue() const;
    // Writes or removes the autostart entry; raises with a Czech text when that fails.
    void SaveAutostart();
    // Raises with a Czech text, before anything is written, when the archive password and its
    // repetition differ or a field holds what the program could not use.
    void CheckBeforeSaving() const;

    // The options as the controls showed them when loaded or last saved.
    struct TShown {
        int32_t RunEvery = 0;
        int32_t Seconds = 0;  // time of day of "In time"
        std::string FileChoose;
        int BackupKind = -1;
        int32_t WeekDay = 0;
        int32_t MonthDay = 0;
        int SavingKind = -1;
        std::string LocalDirectory;
        std::string LocalTemporaryDirectory;
        std::string RemoteHost;
        std::string RemoteUser;
        std::string RemotePassword;
        bool Passive = false;
        bool Tls = false;
        std::string Certificate;
        std::string ArchivePassword;
        int32_t BackupCount = 0;
        bool Autostart = false;
    };
    TShown FromOptions() const;
    TShown FromControls() const;
    TShown FShown;

    TWorkerControl& FWorker;
    bool FApplied = false;
    bool FSaving = false;
    // The picker's own date part; only the time of day is edited.
    TDateTime FPickerDate = 0.0;
};

}  // namespace sejfko
