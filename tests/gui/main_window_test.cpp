#include "gui/main_window.hpp"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <filesystem>
#include <thread>

#include "archive/backup_job.hpp"
#include "backup/backup_thread.hpp"
#include "gui/gui_message_sink.hpp"
#include "gui/gui_test_support.hpp"
#include "gui/options_dialog.hpp"
#include "gui/tray_icon.hpp"
#include "platform/clock.hpp"
#include "platform/locale_format.hpp"
#include "platform/message_sink.hpp"

namespace sejfko::test {
namespace {

class MainWindowTest : public TOptionsFixture {
protected:
    MainWindowTest() : Window(Worker) { Window.Initialize(Data.Path()); }

    void Status(int code, intptr_t percent = 0) {
        Window.HandleMessage(WM_BACKUP_STATUS, code, percent);
    }
    QString State() const { return Window.LblState->text(); }
    bool Animating(const QString& list) const {
        return Window.TrayIcon->CycleIcons() && Window.TrayIcon->IconList().Name == list;
    }

    TRecordedPrompts Prompts;
    TFakeWorker Worker;
    TFoMain Window;
};

TEST_F(MainWindowTest, StartsTheWorkerHiddenWithTheIdlePicture) {
    EXPECT_EQ(Worker.Starts, 1);
    EXPECT_EQ(Window.TrayIcon->IconList().Name, "ILBackup");
    EXPECT_EQ(Window.TrayIcon->PictureIndex(), 0);
    EXPECT_FALSE(Window.TrayIcon->CycleIcons());
    EXPECT_EQ(Window.TrayIcon->ToolTip(), "");
    EXPECT_EQ(Window.windowTitle(), "Sejfko");
    EXPECT_EQ(Window.LblLastRun->text(), "Nikdy");
    EXPECT_EQ(Window.LblFileCount->text(), "0");
    EXPECT_EQ(Window.LblLastTransfer->text(), "Nikdy");
}

TEST_F(MainWindowTest, RunStartedAnimatesDisablesTheCommandAndAnnounces) {
    Status(bsRunStarted);
    EXPECT_TRUE(Animating("ILBackup"));
    EXPECT_FALSE(Window.AcBackupImm->isEnabled());
    EXPECT_FALSE(Window.BtnBackupImm->isEnabled());
    EXPECT_EQ(Window.TrayIcon->ToolTip(), "Sejfko - příprava");
    EXPECT_EQ(State(), "Sejfko - příprava");
    const TBalloon& balloon = Window.TrayIcon->LastBalloon();
    EXPECT_EQ(balloon.Title, "Sejfko");
    EXPECT_EQ(balloon.Text, "Probíhá zálohování souborů");
    EXPECT_EQ(balloon.Kind, TBalloonKind::Information);
    EXPECT_EQ(balloon.Seconds, 10);
}

TEST_F(MainWindowTest, ProgressCodesChangeOnlyTheText) {
    struct TCase {
        int Code;
        intptr_t Percent;
        const char* Hint;
    };
    const TCase cases[] = {
        {bsSelectionRead, 0, "Sejfko - zpracování vstupního souboru"},
        {bsSavingSelection, 0, "Sejfko - ukládání výběru"},
        {bsArchiveProgress, 57, "Sejfko - záloha souborů 57%"},
        {bsArchiveProgress, -1, "Sejfko - záloha souborů -1%"},
        {bsTransferProgress, 100, "Probíhá přenos souboru 100%"},
    };
    // From the transfer animation and from idle alike: picture and command untouched.
    for (bool transferring : {true, false}) {
        Status(transferring ? bsTransferStarted : bsIdle);
        const int balloons = Window.TrayIcon->BalloonCount();
        for (const TCase& c : cases) {
            Status(c.Code, c.Percent);
            SCOPED_TRACE(c.Hint);
            EXPECT_EQ(Window.TrayIcon->ToolTip(), QString::fromUtf8(c.Hint));
            EXPECT_EQ(State(), QString::fromUtf8(c.Hint));
            EXPECT_EQ(Animating("ILTransfer"), transferring);
            EXPECT_EQ(Window.TrayIcon->CycleIcons(), transferring);
            EXPECT_EQ(Window.AcBackupImm->isEnabled(), !transferring);
        }
        EXPECT_EQ(Window.TrayIcon->BalloonCount(), balloons);
    }
}

TEST_F(MainWindowTest, TransferCodesShowTheirTextsAndIdleEndsTheAnimation) {
    Status(bsTransferStarted);
    EXPECT_TRUE(Animating("ILTransfer"));
    EXPECT_FALSE(Window.AcBackupImm->isEnabled());
    EXPECT_EQ(Window.TrayIcon->LastBalloon().Text, "Probíhá přenos souboru");
    Status(bsTransferFailed);
    EXPECT_EQ(State(), "Přenos selhal");
    EXPECT_EQ(Window.TrayIcon->LastBalloon().Text, "Přenos selhal");
    EXPECT_TRUE(Animating("ILTransfer"));
    Status(bsTransferDone);
    EXPECT_EQ(State(), "Přenos je dokončen");
    EXPECT_EQ(Window.TrayIcon->LastBalloon().Text, "Přenos je dokončen");

    // The plan lies ahead of the present (a plan already past is shown as the present).
    TManualClock clock(EncodeDateTime(2026, 4, 9, 8, 0, 0));
    TScopedClock installed(clock);
    Worker.Next = EncodeDateTime(2026, 4, 9, 20, 5, 0);
    Status(bsIdle);
    EXPECT_FALSE(Window.TrayIcon->CycleIcons());
    EXPECT_EQ(Window.TrayIcon->IconList().Name, "ILBackup");
    EXPECT_EQ(Window.TrayIcon->PictureIndex(), 0);
    EXPECT_TRUE(Window.AcBackupImm->isEnabled());
    const QString expected =
        "Další zálohování " + QString::fromStdString(UserLocale().FormatDisplay(Worker.Next));
    EXPECT_EQ(State(), expected);
    EXPECT_EQ(Window.TrayIcon->ToolTip(), expected);
}

TEST_F(MainWindowTest, RunFinishedShowsTheJobsResultText) {
    Status(bsRunFinished);
    const QString text = QString::fromStdString(LastMessage());
    EXPECT_EQ(State(), text);
    EXPECT_EQ(Window.TrayIcon->LastBalloon().Text, text);
}

TEST_F(MainWindowTest, UnknownCodeChangesNothingButRefreshesTheLabel) {
    Status(bsTransferStarted);
    Window.LblState->setText("x");
    Status(12);
    EXPECT_EQ(State(), "Probíhá přenos souboru");
    EXPECT_TRUE(Animating("ILTransfer"));
}

TEST_F(MainWindowTest, AnimationAlternatesTheTwoFrames) {
    Status(bsRunStarted);
    std::vector<int> pictures;
    for (int tick = 0; tick < 4; ++tick) {
        Window.TrayIcon->Cycle();
        pictures.push_back(Window.TrayIcon->PictureIndex());
    }
    EXPECT_EQ(pictures, (std::vector<int>{0, 1, 0, 1}));
}

TEST_F(MainWindowTest, LastRunAndLastTransferShowNeverOrTheDisplayFormat) {
    Options.SetLastRun(100.0);
    Window.HandleMessage(WM_LAST_RUN_CHANGED, 0, 0);
    EXPECT_EQ(Window.LblLastRun->text(), "Nikdy");
    Options.SetLastRun(100.5);
    Window.HandleMessage(WM_LAST_RUN_CHANGED, 0, 0);
    const QString ninthApril = QString::fromStdString(UserLocale().FormatDisplay(100.5));
    EXPECT_EQ(Window.LblLastRun->text(), ninthApril);
    EXPECT_TRUE(ninthApril.startsWith("9.")) << ninthApril.toStdString();
    EXPECT_TRUE(ninthApril.endsWith(" 1900 12:00:00")) << ninthApril.toStdString();

    Options.SetLastTransfer(0.0);
    Window.HandleMessage(WM_LAST_TRANSFER_CHANGED, 0, 0);
    EXPECT_EQ(Window.LblLastTransfer->text(), "Nikdy");
    Options.SetLastTransfer(0.25);
    Window.HandleMessage(WM_LAST_TRANSFER_CHANGED, 0, 0);
    EXPECT_EQ(Window.LblLastTransfer->text(),
              QString::fromStdString(UserLocale().FormatDisplay(0.25)));

    Options.SetFileCountForTransfer(2);
    Window.HandleMessage(WM_TRANSFER_COUNT_CHANGED, 0, 0);
    EXPECT_EQ(Window.LblFileCount->text(), "2");
}

TEST_F(MainWindowTest, NotificationsArriveThroughTheSinkFromAnotherThread) {
    TGuiMessageSink sink(&Window);
    TScopedMessageSink registered(sink);
    std::thread worker([] { Options.SetFileCountForTransfer(3); });
    worker.join();
    EXPECT_TRUE(ProcessEventsUntil([&] { return Window.LblFileCount->text() == "3"; }));
}

TEST_F(MainWindowTest, ImmediateBackupWritesNowIntoNextRun) {
    TManualClock clock(46000.5);
    TScopedClock installed(clock);
    Window.AcBackupImm->trigger();
    EXPECT_EQ(Worker.Next, 46000.5);
}

TEST(MainWindowStartTest, WorkerThatCannotStartIsReportedAndTheCutTooltipKeepsTheLabelWhole) {
    TTempDir data;
    Options.Load(data.Path());
    TRecordedPrompts prompts;
    TFakeWorker worker;
    // 130 characters, many of them two bytes long.
    QString text;
    while (text.size() < 130) {
        text += QStringLiteral("ž");
        text += QString::number(text.size() % 10);
    }
    text = text.left(130);
    worker.StartError = text.toStdString();
    TFoMain window(worker);
    window.Initialize(data.Path());
    ASSERT_EQ(prompts.Errors.size(), 1u);
    EXPECT_EQ(prompts.Errors[0], text);
    EXPECT_EQ(window.LblState->text(), text);
    EXPECT_EQ(window.TrayIcon->ToolTip(), text.left(127));
    EXPECT_FALSE(worker.Running);
}

TEST_F(MainWindowTest, FirstStartOpensTheOptionsDialogOnlyOnce) {
    Worker.Next = 1.875;
    int dialogs = 0;
    WhenModalOpens([&](QWidget* modal) {
        auto* dialog = qobject_cast<TDiOptions*>(modal);
        ASSERT_NE(dialog, nullptr);
        ++dialogs;
        EXPECT_EQ(dialog->windowTitle(), "Nastavení zálohování");
        // Another request while it is open opens nothing.
        Window.HandleMessage(WM_OPEN_OPTIONS, 0, 0);
        EXPECT_EQ(Window.OptionsDialog(), dialog);
        dialog->reject();
    });
    Status(bsIdle);
    EXPECT_EQ(State(), "Program je poprvé spuštěn, použijte dialog pro jeho nastavení");
    EXPECT_TRUE(ProcessEventsUntil([&] { return dialogs == 1 && !Window.OptionsDialogOpen(); }));
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(State(), "Program je poprvé spuštěn, použijte dialog pro jeho nastavení");
    // Cancelled: nothing written.
    EXPECT_FALSE(std::filesystem::exists(OptionsFile()));
}

TEST_F(MainWindowTest, MissingSelectionWarnsHoldsTheWorkerAndOpensTheDialog) {
    bool suspendedWhileOpen = false;
    WhenModalOpens([&](QWidget* modal) {
        suspendedWhileOpen = Worker.Suspended;
        static_cast<QDialog*>(modal)->reject();
    });
    Window.HandleMessage(WM_SELECTION_MISSING, 0, 0);
    EXPECT_TRUE(suspendedWhileOpen);
    EXPECT_FALSE(Worker.Suspended);
    EXPECT_EQ(Worker.Suspends, 1);
    EXPECT_EQ(Worker.Resumes, 1);
    const TBalloon& balloon = Window.TrayIcon->LastBalloon();
    EXPECT_EQ(balloon.Kind, TBalloonKind::Error);
    EXPECT_EQ(balloon.Text, "Soubor s výběrem neexistuje, zvolte ho znovu v dialogu nastavení");
}

TEST_F(MainWindowTest, CloseHidesAndTheProgramGoesOn) {
    Window.ShowMainWindow();
    bool closed = false;
    QObject::connect(&Window, &TFoMain::Closed, [&] { closed = true; });
    Window.BtnClose->click();
    EXPECT_FALSE(closed);
    EXPECT_TRUE(Worker.Running);
    EXPECT_TRUE(Window.isMinimized() || !Window.isVisible());
}

TEST_F(MainWindowTest, ExitWhileIdleEndsWithoutAQuestion) {
    bool closed = false;
    QObject::connect(&Window, &TFoMain::Closed, [&] { closed = true; });
    Window.AcExit->trigger();
    EXPECT_TRUE(closed);
    EXPECT_TRUE(Prompts.Confirmations.empty());
    EXPECT_EQ(Worker.Stops, 1);
}

TEST_F(MainWindowTest, ExitDuringABackupAsksAndADeclineKeepsTheExitPath) {
    bool closed = false;
    QObject::connect(&Window, &TFoMain::Closed, [&] { closed = true; });
    Worker.Backup = true;
    Prompts.ConfirmAnswer = false;
    Window.AcExit->trigger();
    ASSERT_EQ(Prompts.Confirmations.size(), 1u);
    EXPECT_EQ(Prompts.Confirmations[0],
              "Právě probíhá zálohování. Chcete opravdu zálohování přerušit?");
    EXPECT_FALSE(closed);
    EXPECT_EQ(Worker.Stops, 0);
    EXPECT_TRUE(Window.Exiting());

    // The close button now takes the exit path again; once idle it ends without asking.
    Worker.Backup = false;
    Window.BtnClose->click();
    EXPECT_TRUE(closed);
    EXPECT_EQ(Prompts.Confirmations.size(), 1u);
    EXPECT_EQ(Worker.Stops, 1);
}

TEST_F(MainWindowTest, EndOfSessionDuringATransferStopsWithoutAQuestion) {
    bool closed = false;
    QObject::connect(&Window, &TFoMain::Closed, [&] { closed = true; });
    Worker.Transfer = true;
    Window.EndSession();
    EXPECT_TRUE(closed);
    EXPECT_TRUE(Prompts.Confirmations.empty());
    EXPECT_EQ(Worker.Stops, 1);
}

TEST_F(MainWindowTest, ExitWhileTheDialogIsOpenWaitsForTheDialog) {
    bool closed = false;
    bool closedWhileOpen = false;
    QObject::connect(&Window, &TFoMain::Closed, [&] { closed = true; });
    WhenModalOpens([&](QWidget* modal) {
        Window.AcExit->trigger();
        closedWhileOpen = closed;
        static_cast<QDialog*>(modal)->reject();
    });
    Window.AcOptions->trigger();
    EXPECT_FALSE(closedWhileOpen);
    EXPECT_TRUE(ProcessEventsUntil([&] { return closed; }));
    EXPECT_EQ(Worker.Stops, 1);
}

TEST_F(MainWindowTest, EndOfSessionWhileTheAboutDialogIsOpenClosesItAndEnds) {
    bool closed = false;
    QObject::connect(&Window, &TFoMain::Closed, [&] { closed = true; });
    bool aboutOpen = false;
    WhenModalOpens([&](QWidget* modal) {
        aboutOpen = modal->windowTitle() == "O programu";
        Window.EndSession();
    });
    Window.AcAbout->trigger();
    EXPECT_TRUE(aboutOpen);
    EXPECT_TRUE(ProcessEventsUntil([&] { return closed; }));
    EXPECT_EQ(Worker.Stops, 1);
}

TEST_F(MainWindowTest, SwitchingToLocalInTheDialogShowsNoArchivesWaiting) {
    TGuiMessageSink sink(&Window);
    TScopedMessageSink registered(sink);
    Options.SetFileChoose("/home/user/vyber.txt");
    Options.SetSavingKind(skRemote);
    Options.SetRemoteHost("server");
    Options.SetLocalDirectory("/zalohy");
    Options.SetFileCountForTransfer(2);
    ASSERT_TRUE(ProcessEventsUntil([&] { return Window.LblFileCount->text() == "2"; }));
    WhenModalOpens([&](QWidget* modal) {
        auto* dialog = qobject_cast<TDiOptions*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->RBLocal->click();
        dialog->BtnOk->click();
    });
    EXPECT_TRUE(Window.ExecuteOptionsDialog());
    EXPECT_TRUE(ProcessEventsUntil([&] { return Window.LblFileCount->text() == "0"; }));
    ASSERT_EQ(Prompts.Informations.size(), 1u);
    EXPECT_EQ(Prompts.Informations[0],
              "Některé ze souborů připravených k přenosu zůstaly v dočasném úložišti.");
    // The worker re-planned after the save.
    EXPECT_EQ(Worker.Suspends, 1);
    EXPECT_EQ(Worker.Resumes, 1);
}

TEST_F(MainWindowTest, TrayMenuHoldsTheCommandsInOrderWithTheDefaultFirst) {
    const QList<QAction*> actions = Window.PMTray->actions();
    ASSERT_EQ(actions.size(), 8);
    EXPECT_EQ(actions[0], Window.AcShowMain);
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2], Window.AcOptions);
    EXPECT_EQ(actions[3], Window.AcBackupImm);
    EXPECT_EQ(actions[4], Window.AcRestore);
    EXPECT_EQ(actions[5], Window.AcAbout);
    EXPECT_TRUE(actions[6]->isSeparator());
    EXPECT_EQ(actions[7], Window.AcExit);
    EXPECT_EQ(Window.PMTray->defaultAction(), Window.AcShowMain);
    EXPECT_EQ(Window.AcOptions->text(), "&Nastavení programu...");
    EXPECT_EQ(Window.AcOptions->toolTip(), "Zobrazí dialog pro nastavení zálohování");
    EXPECT_EQ(Window.AcShowMain->text(), "Zobraz hlavní okno aplikace");
    EXPECT_EQ(Window.AcExit->text(), "&Konec");
    EXPECT_EQ(Window.BtnClose->text(), "&Zavřít");
}

TEST_F(MainWindowTest, ShowRequestShowsTheWindow) {
    Window.HideMainWindow();
    Window.HandleMessage(WM_SHOW_MAIN_WINDOW, 0, 0);
    EXPECT_TRUE(Window.isVisible());
    EXPECT_FALSE(Window.isMinimized());
}

// Tray hosts of current desktops (StatusNotifierItem) report a single activation only.
TEST_F(MainWindowTest, SingleOrDoubleClickOnTheIconShowsTheWindow) {
    auto* icon = Window.TrayIcon->findChild<QSystemTrayIcon*>();
    ASSERT_NE(icon, nullptr);
    for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}) {
        Window.hide();
        emit icon->activated(reason);
        EXPECT_TRUE(Window.isVisible()) << reason;
    }
    Window.hide();
    emit icon->activated(QSystemTrayIcon::Context);
    EXPECT_FALSE(Window.isVisible());
}

// After a run that did not succeed the plan is the never-marker plus the interval: no text may
// show that date, nor any other moment already past.
TEST_F(MainWindowTest, NextBackupIsNeverShownBeforeThePresent) {
    const TDateTime now = EncodeDateTime(2026, 4, 9, 14, 30, 0);
    TManualClock clock(now);
    TScopedClock installed(clock);
    Options.SetLastRun(NeverMarker);
    Window.HandleMessage(WM_LAST_RUN_CHANGED, 0, 0);
    const auto shown = [](TDateTime value) {
        return "Další zálohování " + QString::fromStdString(UserLocale().FormatDisplay(value));
    };
    struct TCase {
        TDateTime Next;
        QString Expected;
    };
    const TCase cases[] = {
        {NeverMarker + 1.0, shown(now)},          // failed run, interval 1
        {NeverMarker + 7.0 + 0.875, shown(now)},  // failed run, weekly at 21:00
        {now - 0.25, shown(now)},                 // a slot missed while the program was off
        {now, shown(now)},
        {now + 0.25, shown(now + 0.25)},  // a real plan stays as it is
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Next);
        Worker.Next = c.Next;
        Status(bsIdle);
        EXPECT_EQ(State(), c.Expected);
        EXPECT_EQ(Window.TrayIcon->ToolTip(), c.Expected);
        for (const QString& text :
             {State(), Window.TrayIcon->ToolTip(), Window.LblLastRun->text()}) {
            EXPECT_FALSE(text.contains("1900")) << text.toStdString();
        }
    }
}

// The session manager's question (a checkpoint, or a logout that may still be cancelled) ends
// nothing; the close by the system that follows a real end goes through without a question.
TEST_F(MainWindowTest, TheSessionQuestionEndsNothingTheSystemsCloseEndsWithoutAQuestion) {
    bool closed = false;
    QObject::connect(&Window, &TFoMain::Closed, [&] { closed = true; });
    Worker.Backup = true;
    Window.QueryEndSession();
    QApplication::processEvents();
    EXPECT_FALSE(closed);
    EXPECT_TRUE(Worker.Running);
    EXPECT_EQ(Worker.Stops, 0);
    EXPECT_TRUE(Window.SessionEnding());

    Window.close();
    EXPECT_TRUE(closed);
    EXPECT_TRUE(Prompts.Confirmations.empty());
    EXPECT_EQ(Worker.Stops, 1);
}

}  // namespace
}  // namespace sejfko::test
