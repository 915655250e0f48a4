#include "gui/main_window.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>

#include "archive/backup_job.hpp"
#include "backup/backup_thread.hpp"
#include "backup/schedule.hpp"
#include "config/options.hpp"
#include "gui/about_dialog.hpp"
#include "gui/desktop_notifier.hpp"
#include "gui/gui_images.hpp"
#include "gui/gui_prompts.hpp"
#include "gui/main_window_nested.hpp"
#include "gui/options_dialog.hpp"
#include "gui/restore_dialog.hpp"
#include "platform/clock.hpp"
#include "platform/locale_format.hpp"
#include "platform/message_sink.hpp"

namespace sejfko {

namespace {

constexpr int BalloonSeconds = 10;
// NextRun below this (9 January 1900) means that no schedule exists yet.
constexpr TDateTime FirstStartLimit = 10.0;

QString Display(TDateTime value) {
    return QString::fromStdString(UserLocale().FormatDisplay(value));
}

// A push button that mirrors a command: its caption, hint, picture and enabled state.
void BindButton(QPushButton* button, QAction* action) {
    button->setText(action->text());
    button->setToolTip(action->toolTip());
    button->setEnabled(action->isEnabled());
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    QObject::connect(action, &QAction::changed, button,
                     [button, action] { button->setEnabled(action->isEnabled()); });
}

}  // namespace

TFoMain::TFoMain(TWorkerControl& worker, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      FWorker(worker) {
    setObjectName(QStringLiteral("FoMain"));
    setWindowTitle(QStringLiteral("Sejfko"));
    setWindowIcon(ProgramIcon());
    ILBackup = {QStringLiteral("ILBackup"),
                {Picture(TPicture::Backup0), Picture(TPicture::Backup1)}};
    ILTransfer = {QStringLiteral("ILTransfer"),
                  {Picture(TPicture::Transfer0), Picture(TPicture::Transfer1)}};
    Notifier = new TDesktopNotifier(this);
    CreateActions();
    CreateLayout();
    CreateTray();
}

TFoMain::~TFoMain() = default;

void TFoMain::CreateActions() {
    auto make = [this](const char* caption, const char* hint, const QIcon& icon) {
        auto* action = new QAction(icon, QString::fromUtf8(caption), this);
        action->setToolTip(QString::fromUtf8(hint));
        action->setStatusTip(QString::fromUtf8(hint));
        return action;
    };
    AcExit = make("&Konec", "Konec", Picture(TPicture::Exit));
    AcBackupImm = make("&Zálohovat hned", "Zálohovat hned", Picture(TPicture::BackupNow));
    AcOptions = make("&Nastavení programu...", "Zobrazí dialog pro nastavení zálohování",
                     Picture(TPicture::Options));
    AcShowMain = make("Zobraz hlavní okno aplikace", "Zobrazí hlavní okno aplikace", QIcon());
    AcAbout = make("&O programu...", "O programu...", Picture(TPicture::About));
    AcRestore = make("&Obnovit soubory...", "Obnoví soubory ze záloh", QIcon());
    AcHistory = make("&Historie", "Zobrazí historii zálohování, přenosů a obnov", QIcon());

    connect(AcExit, &QAction::triggered, this, [this] {
        FExiting = true;
        close();
    });
    connect(AcBackupImm, &QAction::triggered, this, [this] { FWorker.SetNextRun(Now()); });
    connect(AcOptions, &QAction::triggered, this, [this] { ExecuteOptionsDialog(); });
    connect(AcShowMain, &QAction::triggered, this, &TFoMain::ShowMainWindow);
    connect(AcAbout, &QAction::triggered, this, &TFoMain::About);
    connect(AcRestore, &QAction::triggered, this, &TFoMain::ExecuteRestoreDialog);
    connect(AcHistory, &QAction::triggered, this, &TFoMain::ShowHistory);
}

void TFoMain::CreateLayout() {
    auto* group = new QGroupBox(QStringLiteral("Informace"), this);
    QFont bold = group->font();
    bold.setBold(true);
    group->setFont(bold);
    auto* body = new QWidget(group);
    // Weight set explicitly: a font equal to the parent's would inherit the bold caption.
    QFont normal = font();
    normal.setBold(false);
    body->setFont(normal);

    auto caption = [body](const char* text) {
        auto* label = new QLabel(QString::fromUtf8(text), body);
        label->setAlignment(Qt::AlignRight | Qt::AlignTop);
        return label;
    };
    LblState = new QLabel(body);
    LblState->setObjectName(QStringLiteral("LblState"));
    LblState->setWordWrap(true);
    LblState->setFixedSize(370, 32);
    LblState->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont larger = normal;
    larger.setPointSizeF(larger.pointSizeF() * 1.15);
    LblState->setFont(larger);
    LblLastRun = new QLabel(body);
    LblFileCount = new QLabel(body);
    LblLastTransfer = new QLabel(body);

    auto* grid = new QGridLayout(body);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(1);
    grid->addWidget(caption("Aktuální stav:"), 0, 0);
    grid->addWidget(LblState, 0, 1);
    grid->addWidget(caption("Poslední zálohování:"), 1, 0);
    grid->addWidget(LblLastRun, 1, 1);
    grid->addWidget(caption("Počet souborů k přenosu:"), 2, 0);
    grid->addWidget(LblFileCount, 2, 1);
    grid->addWidget(caption("Poslední přenos:"), 3, 0);
    grid->addWidget(LblLastTransfer, 3, 1);
    grid->setColumnStretch(1, 1);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->setContentsMargins(4, 0, 4, 2);
    groupLayout->addWidget(body);

    BtnOptions = new QPushButton(this);
    BindButton(BtnOptions, AcOptions);
    BtnBackupImm = new QPushButton(this);
    BindButton(BtnBackupImm, AcBackupImm);
    BtnAbout = new QPushButton(this);
    BindButton(BtnAbout, AcAbout);
    BtnRestore = new QPushButton(this);
    BindButton(BtnRestore, AcRestore);
    // Alt+O is "O programu..." here already.
    BtnRestore->setText(QStringLiteral("Obnovit &soubory..."));
    BtnHistory = new QPushButton(this);
    BindButton(BtnHistory, AcHistory);
    BtnClose = new QPushButton(QStringLiteral("&Zavřít"), this);
    BtnClose->setToolTip(QStringLiteral("Zavřít"));
    connect(BtnClose, &QPushButton::clicked, this, &QWidget::close);
    BtnExit = new QPushButton(this);
    BindButton(BtnExit, AcExit);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    for (QPushButton* button :
         {BtnOptions, BtnBackupImm, BtnRestore, BtnHistory, BtnAbout, BtnClose, BtnExit}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->setSpacing(3);
    layout->addWidget(group);
    layout->addLayout(buttons);

    // Sized with every button, so that the window fits with or without the tray.
    const QSize size = QSize(545, 137).expandedTo(layout->sizeHint());
    setFixedSize(size);
    BtnExit->setVisible(false);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TFoMain::CreateTray() {
    PMTray = new QMenu(this);
    PMTray->addAction(AcShowMain);
    PMTray->setDefaultAction(AcShowMain);
    PMTray->addSeparator();
    PMTray->addAction(AcOptions);
    PMTray->addAction(AcBackupImm);
    PMTray->addAction(AcRestore);
    PMTray->addAction(AcAbout);
    PMTray->addSeparator();
    PMTray->addAction(AcExit);

    TrayIcon = new TTrayIcon(this);
    TrayIcon->SetIconList(ILBackup);
    TrayIcon->SetCycleInterval(500);
    TrayIcon->SetContextMenu(PMTray);
    TrayIcon->SetHint(QString());
    // A double click runs the menu's default item; so does a single click, which is all that
    // the tray hosts of current desktops (StatusNotifierItem) report.
    const auto runDefault = [this] {
        if (QAction* action = PMTray->defaultAction()) {
            action->trigger();
        }
    };
    connect(TrayIcon, &TTrayIcon::DoubleClicked, this, runDefault);
    connect(TrayIcon, &TTrayIcon::Clicked, this, runDefault);
    TrayIcon->SetVisible(true);
}

void TFoMain::Initialize(const std::string& dataDirectory) {
    try {
        Options.Load(dataDirectory);
    } catch (const std::exception& failure) {
        GuiPrompts().ShowError(this, QString::fromStdString(failure.what()));
    }
    HandleMessage(WM_LAST_RUN_CHANGED, 0, 0);
    HandleMessage(WM_TRANSFER_COUNT_CHANGED, 0, 0);
    HandleMessage(WM_LAST_TRANSFER_CHANGED, 0, 0);
    StartWorker();
    FExiting = false;
    // A program that is invisible and unreachable is no use.
    if (!TTrayIcon::Available()) {
        ShowMainWindow();
    }
}

void TFoMain::FollowNotificationArea() {
    BtnExit->setVisible(!TTrayIcon::Available());
}

void TFoMain::StartWorker() {
    if (FWorker.Exists()) {
        return;
    }
    std::string errorText;
    if (!FWorker.Start(errorText)) {
        const QString text = QString::fromStdString(errorText);
        SetHint(text);
        LblState->setText(text);
        GuiPrompts().ShowError(this, text);
    }
}

bool TFoMain::StopWorker() {
    if (!FWorker.Exists()) {
        return true;
    }
    if (!FSessionEnding && (FWorker.BackupRunning() || FWorker.TransferRunning())) {
        if (!GuiPrompts().Confirm(
                this, QStringLiteral("Právě probíhá zálohování. Chcete opravdu zálohování "
                                     "přerušit?"))) {
            return false;
        }
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct TRestoreCursor {
        ~TRestoreCursor() { QApplication::restoreOverrideCursor(); }
    } restoreCursor;
    FWorker.Stop();
    return true;
}

void TFoMain::HandleMessage(unsigned message, intptr_t wParam, intptr_t lParam) {
    switch (message) {
        case WM_BACKUP_STATUS:
            BackupStatus(static_cast<int>(wParam), lParam);
            break;
        case WM_LAST_RUN_CHANGED:
            LastRunChanged();
            break;
        case WM_LAST_TRANSFER_CHANGED:
            LastTransferChanged();
            break;
        case WM_TRANSFER_COUNT_CHANGED:
            TransferCountChanged();
            break;
        case WM_SELECTION_MISSING:
            SelectionMissing();
            break;
        case WM_SHOW_MAIN_WINDOW:
            AcShowMain->trigger();
            break;
        case WM_OPEN_OPTIONS:
            ExecuteOptionsDialog();
            break;
        default:
            break;
    }
}

void TFoMain::BackupStatus(int code, intptr_t percent) {
    const QString number = QString::number(static_cast<qlonglong>(percent));
    switch (code) {
        case bsRunStarted:
            TrayIcon->SetIconList(ILBackup);
            TrayIcon->SetCycleIcons(true);
            AcBackupImm->setEnabled(false);
            SetHint(QStringLiteral("Sejfko - příprava"));
            Balloon(QStringLiteral("Probíhá zálohování souborů"), TBalloonKind::Information);
            break;
        case bsSelectionRead:
            SetHint(QStringLiteral("Sejfko - zpracování vstupního souboru"));
            break;
        case bsSavingSelection:
            SetHint(QStringLiteral("Sejfko - ukládání výběru"));
            break;
        case bsArchiveProgress:
            SetHint(QStringLiteral("Sejfko - záloha souborů ") + number + QLatin1Char('%'));
            break;
        case bsIdle:
            // A restore still running keeps the animation.
            TrayIcon->SetCycleIcons(FRestoring);
            TrayIcon->SetIconList(ILBackup);
            TrayIcon->SetIconIndex(0);
            AcBackupImm->setEnabled(true);
            if (FWorker.NextRun() < FirstStartLimit) {
                SetHint(QStringLiteral(
                    "Program je poprvé spuštěn, použijte dialog pro jeho nastavení"));
                QMetaObject::invokeMethod(
                    this, [this] { HandleMessage(WM_OPEN_OPTIONS, 0, 0); }, Qt::QueuedConnection);
            } else {
                // A plan in the past (after a run that did not succeed it is the never-marker
                // plus the interval) starts at the next pass: now is when it really starts.
                SetHint(QStringLiteral("Další zálohování ") +
                        Display(ShownNextRun(FWorker.NextRun(), Now())));
            }
            break;
        case bsRunFinished: {
            const QString text = QString::fromStdString(LastMessage());
            SetHint(text);
            Balloon(text, TBalloonKind::Information);
            break;
        }
        case bsTransferStarted:
            TrayIcon->SetIconList(ILTransfer);
            TrayIcon->SetCycleIcons(true);
            AcBackupImm->setEnabled(false);
            SetHint(QStringLiteral("Probíhá přenos souboru"));
            Balloon(QStringLiteral("Probíhá přenos souboru"), TBalloonKind::Information);
            break;
        case bsTransferFailed:
            SetHint(QStringLiteral("Přenos selhal"));
            Balloon(QStringLiteral("Přenos selhal"), TBalloonKind::Information);
            break;
        case bsTransferDone:
            SetHint(QStringLiteral("Přenos je dokončen"));
            Balloon(QStringLiteral("Přenos je dokončen"), TBalloonKind::Information);
            break;
        case bsTransferProgress:
            SetHint(QStringLiteral("Probíhá přenos souboru ") + number + QLatin1Char('%'));
            break;
        default:
            break;
    }
    LblState->setText(FHint);
}

void TFoMain::SetHint(const QString& hint) {
    FHint = hint;
    TrayIcon->SetHint(hint);
}

void TFoMain::Balloon(const QString& text, TBalloonKind kind) {
    TrayIcon->ShowBalloon(windowTitle(), text, kind, BalloonSeconds);
    if (!TrayIcon->ShowsBalloons()) {
        // Without a notification area the desktop's notification service tells the user.
        Notifier->Show(TrayIcon->LastBalloon());
    }
}

void TFoMain::LastRunChanged() {
    const TDateTime lastRun = Options.LastRun();
    LblLastRun->setText(lastRun <= NeverMarker ? QStringLiteral("Nikdy") : Display(lastRun));
}

void TFoMain::LastTransferChanged() {
    const TDateTime lastTransfer = Options.LastTransfer();
    LblLastTransfer->setText(lastTransfer == 0.0 ? QStringLiteral("Nikdy") : Display(lastTransfer));
}

void TFoMain::TransferCountChanged() {
    LblFileCount->setText(QString::number(Options.FileCountForTransfer()));
}

void TFoMain::SelectionMissing() {
    Balloon(QStringLiteral("Soubor s výběrem neexistuje, zvolte ho znovu v dialogu nastavení"),
            TBalloonKind::Error);
    // The dialog the user already has open is where the file is chosen.
    if (FOptionsDialog != nullptr) {
        return;
    }
    TNestedGuard guard(*this);
    FWorker.Suspend([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); });
    ExecuteOptionsDialog();
    FWorker.Resume();
}

bool TFoMain::ExecuteOptionsDialog() {
    if (FOptionsDialog != nullptr) {
        FOptionsDialog->raise();
        FOptionsDialog->activateWindow();
        return false;
    }
    TNestedGuard guard(*this);
    TDiOptions dialog(FWorker);
    FOptionsDialog = &dialog;
    dialog.LoadFromOptions();
    dialog.exec();
    FOptionsDialog = nullptr;
    return dialog.Applied();
}

void TFoMain::About() {
    TNestedGuard guard(*this);
    TDiAbout dialog;
    dialog.exec();
}

void TFoMain::ShowMainWindow() {
    FollowNotificationArea();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TFoMain::HideMainWindow() {
    if (!TTrayIcon::Available()) {
        // Without a notification area a hidden window could never be reached again.
        showMinimized();
        return;
    }
    setWindowState(windowState() & ~Qt::WindowMinimized);
    hide();
}

void TFoMain::QueryEndSession() {
    FSessionEnding = true;
}

void TFoMain::EndSession() {
    FSessionEnding = true;
    // Open dialogs and boxes are cancelled; the close follows once their loops have ended.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* restore = qobject_cast<TDiRestore*>(widget); restore && restore->isVisible()) {
            restore->CancelAndClose();  // no question at the end of the session
        } else if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible()) {
            dialog->reject();
        }
    }
    close();
}

void TFoMain::closeEvent(QCloseEvent* event) {
    if (!FExiting && !FSessionEnding) {
        event->ignore();
        HideMainWindow();
        return;
    }
    if (FClosed) {
        event->accept();
        return;
    }
    if (FNestedDepth > 0) {
        FClosePending = true;
        event->ignore();
        return;
    }
    bool stopped = false;
    {
        // The question is a nested loop too: a session end meanwhile waits for the answer.
        TNestedGuard guard(*this);
        stopped = StopWorker();
    }
    if (!stopped) {
        event->ignore();
        return;
    }
    FClosed = true;
    FClosePending = false;
    event->accept();
    TrayIcon->SetVisible(false);
    emit Closed();
}

void TFoMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && TTrayIcon::Available()) {
        // Minimised to the tray: hidden, the icon stays.
        QTimer::singleShot(0, this, &TFoMain::HideMainWindow);
    }
}

void TFoMain::LeaveNested() {
    --FNestedDepth;
    if (FNestedDepth == 0 && FClosePending) {
        FClosePending = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

}  // namespace sejfko
