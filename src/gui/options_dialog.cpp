#include "gui/options_dialog.hpp"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QToolButton>
#include <cmath>
#include <exception>
#include <stdexcept>

#include "archive/backup_job.hpp"
#include "config/options.hpp"
#include "gui/autostart.hpp"
#include "gui/gui_prompts.hpp"
#include "gui/worker_control.hpp"
#include "platform/clock.hpp"
#include "platform/data_directory.hpp"
#include "platform/tls_channel.hpp"

namespace sejfko {

namespace {

constexpr int WeeklyMinimumCount = 7;
constexpr int MonthlyMinimumCount = 31;

// "Passive mode" joined the options later than the other keys; the check box follows the
// store's accessors when they exist.
template <typename TStore>
bool ReadPassiveMode(const TStore& store) {
    if constexpr (requires { store.PassiveMode(); }) {
        return store.PassiveMode() != 0;
    } else {
        return false;
    }
}

template <typename TStore>
void WritePassiveMode(TStore& store, bool passive) {
    if constexpr (requires { store.SetPassiveMode(passive ? 1 : 0); }) {
        store.SetPassiveMode(passive ? 1 : 0);
    }
}

std::string Text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

}  // namespace

QString SelectionPathForOptions(const QString& path, const QString& dataDirectory) {
    if (dataDirectory.isEmpty()) {
        return path;
    }
    QString prefix = dataDirectory;
    const QChar separator = QDir::separator();
    if (!prefix.endsWith(separator) && !prefix.endsWith(QLatin1Char('/'))) {
        prefix += separator;
    }
    // A plain substring match would also take /data/sejfko2/x for a file of /data/sejfko.
    if (path.size() > prefix.size() && path.startsWith(prefix, Qt::CaseSensitive)) {
        return path.mid(prefix.size());
    }
    return path;
}

TDiOptions::TDiOptions(TWorkerControl& worker, QWidget* parent)
    : QDialog(parent), FWorker(worker), FPickerDate(std::trunc(Now())) {
    setObjectName(QStringLiteral("DiOptions"));
    CreateControls();
    ConnectControls();
}

TDiOptions::~TDiOptions() = default;

void TDiOptions::ConnectControls() {
    auto changed = [this] { OptionsChanged(); };
    for (QLineEdit* edit : {EdFile, EdDir, EdLocalTemp, EdHost, EdUser, EdPassword, EdCertificate,
                            EdArchivePassword, EdArchivePasswordRepeat}) {
        connect(edit, &QLineEdit::textChanged, this, changed);
    }
    for (QSpinBox* spin : {EdEvery, SEdComplete, SEdBackupCount}) {
        connect(spin, &QSpinBox::valueChanged, this, changed);
    }
    connect(CBComplete, &QComboBox::currentIndexChanged, this, changed);
    connect(DTTime, &QTimeEdit::timeChanged, this, changed);
    connect(CBPassive, &QCheckBox::toggled, this, changed);
    connect(CBTls, &QCheckBox::toggled, this, changed);
    connect(CBAutostart, &QCheckBox::toggled, this, changed);
    for (QRadioButton* radio : {RBFull, RBIncWeek, RBIncMonth, RBLocal, RBRemote}) {
        connect(radio, &QRadioButton::toggled, this, [this, radio](bool checked) {
            if (checked) {
                RadioClicked(radio);
            }
        });
    }

    connect(BtnFile, &QToolButton::clicked, this, &TDiOptions::ChooseFile);
    connect(BtnDir, &QToolButton::clicked, this, [this] {
        ChooseDirectory(EdDir, QStringLiteral("Výběr adresáře pro uložení zálohy"));
    });
    connect(BtnLocalTemp, &QToolButton::clicked, this, [this] {
        ChooseDirectory(EdLocalTemp,
                        QStringLiteral("Výběr adresáře pro dočasné uložení tranferované zálohy"));
    });

    connect(AcApply, &QAction::triggered, this, [this] {
        if (SaveAndReport()) {
            FApplied = true;
            AcApply->setEnabled(false);
        }
    });
    connect(AcOk, &QAction::triggered, this, [this] {
        if (SaveAndReport()) {
            FApplied = true;
            accept();
        }
    });
    connect(BtnApply, &QPushButton::clicked, AcApply, &QAction::trigger);
    connect(BtnOk, &QPushButton::clicked, AcOk, &QAction::trigger);
    connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(AcApply, &QAction::changed, this,
            [this] { BtnApply->setEnabled(AcApply->isEnabled()); });
    connect(AcOk, &QAction::changed, this, [this] { BtnOk->setEnabled(AcOk->isEnabled()); });

    // Enter moves to the next control instead of pressing the default button.
    const QList<QWidget*> enterMoves = {EdEvery,
                                        DTTime,
                                        EdFile,
                                        RBFull,
                                        RBIncWeek,
                                        CBComplete,
                                        RBIncMonth,
                                        SEdComplete,
                                        RBLocal,
                                        EdDir,
                                        RBRemote,
                                        EdLocalTemp,
                                        EdHost,
                                        EdUser,
                                        EdPassword,
                                        CBPassive,
                                        SEdBackupCount,
                                        CBAutostart,
                                        CBTls,
                                        EdCertificate,
                                        EdArchivePassword,
                                        EdArchivePasswordRepeat};
    for (QWidget* widget : enterMoves) {
        widget->installEventFilter(this);
    }
}

bool TDiOptions::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers held =
            key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && held == 0) {
            focusNextChild();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

TDiOptions::TShown TDiOptions::FromOptions() const {
    TShown shown;
    shown.RunEvery = Options.RunEvery();
    const TTimeParts time = DecodeTime(Options.InTime());
    shown.Seconds = time.Hour * 3600 + time.Minute * 60 + time.Second;
    shown.FileChoose = Options.FileChoose();
    shown.BackupKind = Options.BackupKind();
    shown.WeekDay = Options.CompletelyWeekBackupDay();
    shown.MonthDay = Options.CompletelyMonthBackupDay();
    shown.SavingKind = Options.SavingKind();
    shown.LocalDirectory = Options.LocalDirectory();
    shown.LocalTemporaryDirectory = Options.LocalTemporaryDirectory();
    shown.RemoteHost = Options.RemoteHost();
    shown.RemoteUser = Options.RemoteUser();
    shown.RemotePassword = Options.RemotePassword();
    shown.Passive = ReadPassiveMode(Options);
    shown.Tls = Options.FtpSecurity() != 0;
    shown.Certificate = Options.FtpCertificate();
    shown.ArchivePassword = Options.ArchivePassword();
    shown.BackupCount = Options.BackupCount();
    shown.Autostart = AutostartEnabled();
    return shown;
}

TDiOptions::TShown TDiOptions::FromControls() const {
    TShown shown;
    shown.RunEvery = EdEvery->value();
    const QTime time = DTTime->time();
    shown.Seconds = time.hour() * 3600 + time.minute() * 60 + time.second();
    shown.FileChoose = Text(EdFile);
    shown.BackupKind = -1;
    if (RBFull->isChecked()) {
        shown.BackupKind = bkFull;
    } else if (RBIncWeek->isChecked()) {
        shown.BackupKind = bkIncWeek;
    } else if (RBIncMonth->isChecked()) {
        shown.BackupKind = bkIncMonth;
    }
    shown.WeekDay = CBComplete->currentIndex() + 1;
    shown.MonthDay = SEdComplete->value();
    shown.SavingKind = RBLocal->isChecked() ? skLocal : skRemote;
    shown.LocalDirectory = Text(EdDir);
    shown.LocalTemporaryDirectory = Text(EdLocalTemp);
    shown.RemoteHost = Text(EdHost);
    shown.RemoteUser = Text(EdUser);
    shown.RemotePassword = Text(EdPassword);
    shown.Passive = CBPassive->isChecked();
    shown.Tls = CBTls->isChecked();
    shown.Certificate = Text(EdCertificate);
    shown.ArchivePassword = Text(EdArchivePassword);
    shown.BackupCount = SEdBackupCount->value();
    shown.Autostart = CBAutostart->isChecked();
    return shown;
}

void TDiOptions::LoadFromOptions() {
    // The file may have been changed by another process since this one last looked.
    Options.ReloadIfChanged();
    FShown = FromOptions();
    EdEvery->setValue(Options.RunEvery());
    const TTimeParts time = DecodeTime(Options.InTime());
    DTTime->setTime(QTime(time.Hour, time.Minute, time.Second));
    EdFile->setText(QString::fromStdString(Options.FileChoose()));
    switch (Options.BackupKind()) {
        case bkFull:
            RBFull->setChecked(true);
            break;
        case bkIncWeek:
            RBIncWeek->setChecked(true);
            break;
        case bkIncMonth:
            RBIncMonth->setChecked(true);
            break;
        default:
            break;
    }
    const int weekDay = Options.CompletelyWeekBackupDay();
    CBComplete->setCurrentIndex(weekDay >= 1 && weekDay <= 7 ? weekDay - 1 : -1);
    SEdComplete->setValue(Options.CompletelyMonthBackupDay());
    switch (Options.SavingKind()) {
        case skLocal:
            RBLocal->setChecked(true);
            break;
        case skRemote:
            RBRemote->setChecked(true);
            break;
        default:
            break;
    }
    EdDir->setText(QString::fromStdString(Options.LocalDirectory()));
    EdLocalTemp->setText(QString::fromStdString(Options.LocalTemporaryDirectory()));
    EdHost->setText(QString::fromStdString(Options.RemoteHost()));
    EdUser->setText(QString::fromStdString(Options.RemoteUser()));
    EdPassword->setText(QString::fromStdString(Options.RemotePassword()));
    CBPassive->setChecked(ReadPassiveMode(Options));
    CBTls->setChecked(Options.FtpSecurity() != 0);
    EdCertificate->setText(QString::fromStdString(Options.FtpCertificate()));
    EdArchivePassword->setText(QString::fromStdString(Options.ArchivePassword()));
    EdArchivePasswordRepeat->setText(EdArchivePassword->text());
    SEdBackupCount->setValue(Options.BackupCount());
    // A program that was never configured starts at login once the user confirms the dialog.
    CBAutostart->setChecked(FShown.Autostart || Options.FileChoose().empty());
    // A control that kept its value sent no change: check once more for "OK".
    OptionsChanged();
    AcApply->setEnabled(false);
}

void TDiOptions::OptionsChanged() {
    const bool valid =
        !EdFile->text().isEmpty() &&
        ((RBLocal->isChecked() && !EdDir->text().isEmpty()) ||
         (RBRemote->isChecked() && !EdHost->text().isEmpty() && !EdLocalTemp->text().isEmpty()));
    AcApply->setEnabled(valid);
    AcOk->setEnabled(valid);
}

void TDiOptions::RadioClicked(QRadioButton* button) {
    OptionsChanged();
    auto enable = [](std::initializer_list<QWidget*> widgets, bool enabled) {
        for (QWidget* widget : widgets) {
            widget->setEnabled(enabled);
        }
    };
    if (button == RBLocal || button == RBRemote) {
        const bool remote = button == RBRemote;
        enable({LblDir, EdDir, BtnDir}, !remote);
        enable({LblLocalTemp, BtnLocalTemp, LblHost, EdHost, LblUser, EdUser, LblPassword,
                EdPassword, CBPassive, CBTls, LblCertificate, EdCertificate},
               remote);
    } else {
        enable({LblComplete, CBComplete}, button == RBIncWeek);
        enable({LblMonthComplete, SEdComplete, LblMonthCompleteSuffix}, button == RBIncMonth);
    }
}

void TDiOptions::ChooseDirectory(QLineEdit* edit, const QString& caption) {
    const QString chosen = GuiPrompts().ChooseDirectory(this, caption);
    if (!chosen.isEmpty()) {
        edit->setText(QDir::toNativeSeparators(chosen));
    }
}

void TDiOptions::ChooseFile() {
    const std::string dataDirectory = Options.Directory();
    const QString initial =
        QString::fromStdString(ResolveDataPath(dataDirectory, EdFile->text().toStdString()));
    const QString chosen = GuiPrompts().ChooseFile(
        this, QStringLiteral("Vyberte soubor obsahujicí výběr pro zálohování"), initial,
        QStringLiteral("Všechny soubory (*.*)"));
    if (chosen.isEmpty()) {
        return;
    }
    EdFile->setText(SelectionPathForOptions(QDir::toNativeSeparators(chosen),
                                            QString::fromStdString(dataDirectory)));
}

TDateTime TDiOptions::PickerValue() const {
    const QTime time = DTTime->time();
    return FPickerDate + EncodeTime(time.hour(), time.minute(), time.second());
}

void TDiOptions::CheckBeforeSaving() const {
    if (EdArchivePassword->text() != EdArchivePasswordRepeat->text()) {
        throw std::runtime_error(
            "Heslo archivů a jeho zopakování se liší. Nastavení nebylo uloženo; zadejte heslo "
            "znovu do obou polí.");
    }
    // What the file held already is kept as it is, whatever another front end let in.
    if (Text(EdArchivePassword) != FShown.ArchivePassword &&
        Text(EdArchivePassword).size() > MaxArchivePasswordLength) {
        throw std::runtime_error("Heslo archivů smí mít nejvýše " +
                                 std::to_string(MaxArchivePasswordLength) +
                                 " bajtů. Nastavení nebylo uloženo.");
    }
    std::string fingerprint;
    const std::string certificate = Text(EdCertificate);
    if (certificate != FShown.Certificate && !certificate.empty() &&
        !ParseFingerprint(certificate, fingerprint)) {
        throw std::runtime_error(
            "Otisk certifikátu musí být otisk SHA-256: 64 šestnáctkových číslic (dvojtečky "
            "jsou dovoleny). Nastavení nebylo uloženo.");
    }
}

void TDiOptions::SaveToOptions() {
    // Nothing is written when a field cannot be used: a half-saved dialog would be worse.
    CheckBeforeSaving();
    Options.ReloadIfChanged();
    // An option the user left as shown keeps whatever the file holds now.
    const TShown& shown = FShown;
    if (EdEvery->value() != shown.RunEvery) {
        Options.SetRunEvery(EdEvery->value());
    }
    const QTime time = DTTime->time();
    if (time.hour() * 3600 + time.minute() * 60 + time.second() != shown.Seconds) {
        Options.SetInTime(PickerValue());
    }
    if (Text(EdFile) != shown.FileChoose) {
        Options.SetFileChoose(Text(EdFile));
    }
    int kind = -1;
    if (RBFull->isChecked()) {
        kind = bkFull;
    } else if (RBIncWeek->isChecked()) {
        kind = bkIncWeek;
    } else if (RBIncMonth->isChecked()) {
        kind = bkIncMonth;
    }
    if (kind >= 0 && kind != shown.BackupKind) {
        Options.SetBackupKind(static_cast<TBackupKind>(kind));
    }
    if (CBComplete->currentIndex() + 1 != shown.WeekDay) {
        Options.SetCompletelyWeekBackupDay(CBComplete->currentIndex() + 1);
    }
    if (SEdComplete->value() != shown.MonthDay) {
        Options.SetCompletelyMonthBackupDay(SEdComplete->value());
    }
    const int saving = RBLocal->isChecked() ? skLocal : skRemote;
    if ((RBLocal->isChecked() || RBRemote->isChecked()) && saving != shown.SavingKind) {
        Options.SetSavingKind(static_cast<TSavingKind>(saving));
    }
    if (saving == skLocal && Options.FileCountForTransfer() != 0) {
        Options.SetFileCountForTransfer(0);
        GuiPrompts().Information(this, QStringLiteral("Některé ze souborů připravených k přenosu "
                                                      "zůstaly v dočasném úložišti."));
    }
    const auto store = [](const QLineEdit* edit, const std::string& before, auto setter) {
        if (Text(edit) != before) {
            (Options.*setter)(Text(edit));
        }
    };
    store(EdDir, shown.LocalDirectory, &TOptions::SetLocalDirectory);
    store(EdLocalTemp, shown.LocalTemporaryDirectory, &TOptions::SetLocalTemporaryDirectory);
    store(EdHost, shown.RemoteHost, &TOptions::SetRemoteHost);
    store(EdUser, shown.RemoteUser, &TOptions::SetRemoteUser);
    store(EdPassword, shown.RemotePassword, &TOptions::SetRemotePassword);
    if (CBPassive->isChecked() != shown.Passive) {
        WritePassiveMode(Options, CBPassive->isChecked());
    }
    if (CBTls->isChecked() != shown.Tls) {
        Options.SetFtpSecurity(CBTls->isChecked() ? 1 : 0);
    }
    store(EdCertificate, shown.Certificate, &TOptions::SetFtpCertificate);
    store(EdArchivePassword, shown.ArchivePassword, &TOptions::SetArchivePassword);
    if (SEdBackupCount->value() != shown.BackupCount) {
        Options.SetBackupCount(SEdBackupCount->value());
    }

    const TBackupKind storedKind = Options.BackupKind();
    const int32_t count = Options.BackupCount();
    int minimum = 0;
    if (storedKind == bkIncWeek && count < WeeklyMinimumCount) {
        minimum = WeeklyMinimumCount;
    } else if (storedKind == bkIncMonth && count < MonthlyMinimumCount) {
        minimum = MonthlyMinimumCount;
    }
    if (minimum != 0) {
        GuiPrompts().Information(this, QStringLiteral("Počet uchovávaných záloh není nevyhovuje "
                                                      "zvolenému způsobu zálohování a proto "
                                                      "byla upravena."));
        Options.SetBackupCount(minimum);
        SEdBackupCount->setValue(minimum);
    }
    // From here on a change means a change from what the controls show now (the autostart
    // entry is taken as it was until it has been written).
    const bool autostartShown = FShown.Autostart;
    FShown = FromControls();
    FShown.Autostart = autostartShown;

    // Re-plan from the new options. Not while a backup or an upload runs: the pause would
    // hold the dialog until it ends; the worker re-plans after it anyway.
    if (!FWorker.BackupRunning() && !FWorker.TransferRunning()) {
        FWorker.Suspend([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); });
        FWorker.Resume();
    }
    SaveAutostart();
}

void TDiOptions::SaveAutostart() {
    const bool wanted = CBAutostart->isChecked();
    if (wanted == FShown.Autostart) {
        return;
    }
    // The entry starts this very program on this data directory (the default one needs no
    // argument, so a moved configuration is followed).
    QStringList arguments;
    const std::string directory = Options.Directory();
    if (!directory.empty() && directory != DefaultDataDirectory()) {
        arguments << QStringLiteral("--config-dir") << QString::fromStdString(directory);
    }
    QString errorText;
    if (!SetAutostart(wanted, QCoreApplication::applicationFilePath(), arguments, errorText)) {
        throw std::runtime_error(errorText.toStdString());
    }
    FShown.Autostart = wanted;
}

bool TDiOptions::SaveAndReport() {
    // The worker's pause keeps events flowing: a second click must not save twice at once.
    if (FSaving) {
        return false;
    }
    FSaving = true;
    bool saved = false;
    try {
        SaveToOptions();
        saved = true;
    } catch (const std::exception& failure) {
        GuiPrompts().ShowError(this, QString::fromStdString(failure.what()));
    } catch (...) {
        GuiPrompts().ShowError(this, QStringLiteral("Neznámá chyba"));
    }
    FSaving = false;
    return saved;
}

}  // namespace sejfko
