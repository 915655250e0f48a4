#include "gui/options_dialog.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QToolButton>
#include <cerrno>
#include <filesystem>
#include <map>

#include "gui/autostart.hpp"
#include "gui/gui_test_support.hpp"
#include "platform/fault_injection.hpp"

namespace sejfko::test {
namespace {

class OptionsDialogTest : public TOptionsFixture {
protected:
    // Valid local options with a selection file.
    void StoreValidLocal(TBackupKind kind, int32_t count) {
        Options.SetFileChoose("/home/user/vyber.txt");
        Options.SetBackupKind(kind);
        Options.SetSavingKind(skLocal);
        Options.SetLocalDirectory("/zalohy");
        Options.SetBackupCount(count);
    }

    TRecordedPrompts Prompts;
    TFakeWorker Worker;
};

TEST_F(OptionsDialogTest, LoadsEveryOptionAndOffersOkButNotApply) {
    Options.SetRunEvery(3);
    Options.SetInTime(45000 + EncodeTime(21, 30, 15));
    Options.SetFileChoose("vyber.txt");
    Options.SetBackupKind(bkIncWeek);
    Options.SetCompletelyWeekBackupDay(3);
    Options.SetCompletelyMonthBackupDay(15);
    Options.SetSavingKind(skRemote);
    Options.SetLocalDirectory("/zalohy");
    Options.SetLocalTemporaryDirectory("/tmp/cekani");
    Options.SetRemoteHost("ftp.example.org:2121");
    Options.SetRemoteUser("karel");
    Options.SetRemotePassword("tajné");
    Options.SetPassiveMode(1);
    Options.SetBackupCount(12);

    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();
    EXPECT_EQ(dialog.windowTitle(), "Nastavení zálohování");
    EXPECT_EQ(dialog.EdEvery->value(), 3);
    EXPECT_EQ(dialog.DTTime->time(), QTime(21, 30, 15));
    EXPECT_EQ(dialog.EdFile->text(), "vyber.txt");
    EXPECT_TRUE(dialog.RBIncWeek->isChecked());
    EXPECT_EQ(dialog.CBComplete->currentText(), "Středa");
    EXPECT_EQ(dialog.SEdComplete->value(), 15);
    EXPECT_TRUE(dialog.RBRemote->isChecked());
    EXPECT_EQ(dialog.EdHost->text(), "ftp.example.org:2121");
    EXPECT_EQ(dialog.EdPassword->text(), "tajné");
    EXPECT_EQ(dialog.EdPassword->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.EdPassword->displayText(), "*****");  // one "*" per character
    EXPECT_TRUE(dialog.CBPassive->isChecked());
    EXPECT_EQ(dialog.SEdBackupCount->value(), 12);
    EXPECT_TRUE(dialog.AcOk->isEnabled());
    EXPECT_FALSE(dialog.AcApply->isEnabled());

    dialog.EdUser->setText("jana");
    EXPECT_TRUE(dialog.AcApply->isEnabled());
    EXPECT_TRUE(dialog.BtnApply->isEnabled());
}

TEST_F(OptionsDialogTest, ValidityNeedsAFileAndACompleteDestination) {
    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();  // fresh options: no file, local, no directory
    EXPECT_FALSE(dialog.AcOk->isEnabled());
    EXPECT_FALSE(dialog.BtnOk->isEnabled());
    EXPECT_FALSE(dialog.AcApply->isEnabled());

    dialog.EdFile->setText("vyber.txt");
    EXPECT_FALSE(dialog.AcOk->isEnabled());
    dialog.EdDir->setText("/zalohy");
    EXPECT_TRUE(dialog.AcOk->isEnabled());
    EXPECT_TRUE(dialog.AcApply->isEnabled());

    dialog.RBRemote->click();
    EXPECT_FALSE(dialog.AcOk->isEnabled());  // no host yet; the default temp directory is set
    EXPECT_FALSE(dialog.EdLocalTemp->text().isEmpty());
    dialog.EdHost->setText("server");
    EXPECT_TRUE(dialog.AcOk->isEnabled());
    dialog.EdLocalTemp->setText("");
    EXPECT_FALSE(dialog.AcOk->isEnabled());
    dialog.EdLocalTemp->setText("/tmp/x");
    dialog.EdFile->setText("");
    EXPECT_FALSE(dialog.AcOk->isEnabled());
    EXPECT_FALSE(dialog.AcApply->isEnabled());
}

TEST_F(OptionsDialogTest, RadioButtonsEnableTheirFields) {
    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();
    dialog.RBLocal->click();
    for (QWidget* w : std::initializer_list<QWidget*>{dialog.LblDir, dialog.EdDir, dialog.BtnDir}) {
        EXPECT_TRUE(w->isEnabled());
    }
    for (QWidget* w : std::initializer_list<QWidget*>{
             dialog.LblLocalTemp, dialog.BtnLocalTemp, dialog.LblHost, dialog.EdHost,
             dialog.LblUser, dialog.EdUser, dialog.LblPassword, dialog.EdPassword, dialog.CBPassive,
             dialog.CBTls, dialog.LblCertificate, dialog.EdCertificate}) {
        EXPECT_FALSE(w->isEnabled()) << w->metaObject()->className();
    }
    // The archive password belongs to every destination.
    EXPECT_TRUE(dialog.EdArchivePassword->isEnabled());
    // The read-only field itself is not switched.
    EXPECT_TRUE(dialog.EdLocalTemp->isEnabled());

    dialog.RBRemote->click();
    EXPECT_FALSE(dialog.EdDir->isEnabled());
    EXPECT_FALSE(dialog.BtnDir->isEnabled());
    EXPECT_TRUE(dialog.EdHost->isEnabled());
    EXPECT_TRUE(dialog.CBPassive->isEnabled());
    EXPECT_TRUE(dialog.CBTls->isEnabled());
    EXPECT_TRUE(dialog.EdCertificate->isEnabled());
    EXPECT_TRUE(dialog.BtnLocalTemp->isEnabled());

    dialog.RBFull->click();
    EXPECT_FALSE(dialog.CBComplete->isEnabled());
    EXPECT_FALSE(dialog.LblComplete->isEnabled());
    EXPECT_FALSE(dialog.SEdComplete->isEnabled());
    EXPECT_FALSE(dialog.LblMonthCompleteSuffix->isEnabled());
    dialog.RBIncWeek->click();
    EXPECT_TRUE(dialog.CBComplete->isEnabled());
    EXPECT_FALSE(dialog.SEdComplete->isEnabled());
    dialog.RBIncMonth->click();
    EXPECT_FALSE(dialog.CBComplete->isEnabled());
    EXPECT_TRUE(dialog.SEdComplete->isEnabled());
    EXPECT_TRUE(dialog.LblMonthComplete->isEnabled());
}

TEST_F(OptionsDialogTest, IncrementalKindsRaiseTheBackupCountWithAMessage) {
    struct TCase {
        TBackupKind Kind;
        int32_t Count;
        int32_t Saved;
    };
    const TCase cases[] = {
        {bkIncWeek, 5, 7}, {bkIncMonth, 20, 31}, {bkIncMonth, 40, 40},
        {bkFull, 1, 1},    {bkIncWeek, 7, 7},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << int(c.Kind) << " count " << c.Count);
        StoreValidLocal(c.Kind, c.Count);
        Prompts.Informations.clear();
        TDiOptions dialog(Worker);
        dialog.LoadFromOptions();
        dialog.BtnOk->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_TRUE(dialog.Applied());
        EXPECT_EQ(Options.BackupCount(), c.Saved);
        EXPECT_EQ(dialog.SEdBackupCount->value(), c.Saved);
        if (c.Saved != c.Count) {
            ASSERT_EQ(Prompts.Informations.size(), 1u);
            EXPECT_EQ(Prompts.Informations[0],
                      "Počet uchovávaných záloh není nevyhovuje zvolenému způsobu zálohování a "
                      "proto byla upravena.");
        } else {
            EXPECT_TRUE(Prompts.Informations.empty());
        }
    }
}

TEST_F(OptionsDialogTest, SwitchingToLocalDropsTheWaitingCountWithAMessage) {
    StoreValidLocal(bkFull, 10);
    Options.SetSavingKind(skRemote);
    Options.SetRemoteHost("server");
    Options.SetLocalTemporaryDirectory("/tmp/cekani");
    Options.SetFileCountForTransfer(2);
    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();
    dialog.RBLocal->click();
    dialog.BtnApply->click();
    EXPECT_EQ(Options.SavingKind(), skLocal);
    EXPECT_EQ(Options.FileCountForTransfer(), 0);
    ASSERT_EQ(Prompts.Informations.size(), 1u);
    EXPECT_EQ(Prompts.Informations[0],
              "Některé ze souborů připravených k přenosu zůstaly v dočasném úložišti.");
    // Apply keeps the dialog open and is spent until the next change.
    EXPECT_FALSE(dialog.AcApply->isEnabled());
    EXPECT_TRUE(dialog.Applied());
}

TEST_F(OptionsDialogTest, CancelWritesNothing) {
    TDiOptions fresh(Worker);
    fresh.LoadFromOptions();
    fresh.EdFile->setText("x");
    fresh.BtnCancel->click();
    EXPECT_FALSE(std::filesystem::exists(OptionsFile()));

    StoreValidLocal(bkIncMonth, 31);
    const std::string before = ReadWholeFile(OptionsFile());
    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();
    dialog.EdEvery->setValue(9);
    dialog.BtnCancel->click();
    EXPECT_EQ(ReadWholeFile(OptionsFile()), before);
    EXPECT_FALSE(dialog.Applied());
    EXPECT_EQ(Worker.Suspends, 0);
}

TEST_F(OptionsDialogTest, SaveWritesEveryFieldAndLetsTheWorkerReplan) {
    StoreValidLocal(bkFull, 10);
    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();
    dialog.EdEvery->setValue(2);
    dialog.DTTime->setTime(QTime(6, 45, 0));
    dialog.RBRemote->click();
    dialog.EdLocalTemp->setText("/tmp/cekani");
    dialog.EdHost->setText("server:2121");
    dialog.EdUser->setText("karel");
    dialog.EdPassword->setText("");
    dialog.CBPassive->setChecked(true);
    dialog.RBIncMonth->click();
    dialog.SEdComplete->setValue(28);
    dialog.SEdBackupCount->setValue(40);
    dialog.BtnOk->click();

    EXPECT_EQ(Options.RunEvery(), 2);
    const TTimeParts time = DecodeTime(Options.InTime());
    EXPECT_EQ(time.Hour, 6);
    EXPECT_EQ(time.Minute, 45);
    EXPECT_EQ(Options.SavingKind(), skRemote);
    EXPECT_EQ(Options.RemoteHost(), "server:2121");
    EXPECT_EQ(Options.RemoteUser(), "karel");
    EXPECT_EQ(Options.RemotePassword(), "");
    EXPECT_EQ(Options.PassiveMode(), 1);
    EXPECT_EQ(Options.BackupKind(), bkIncMonth);
    EXPECT_EQ(Options.CompletelyMonthBackupDay(), 28);
    EXPECT_EQ(Options.BackupCount(), 40);
    EXPECT_EQ(Worker.Suspends, 1);
    EXPECT_EQ(Worker.Resumes, 1);
}

// `sejfko-cli config` (another process, here another options object on the same file) writes
// while the desktop program runs: the dialog shows the file's values when it opens, and its save
// writes only what the user changed in it, never undoing the other process's change.
TEST_F(OptionsDialogTest, ChangesMadeByAnotherProcessAreShownAndNeverUndone) {
    StoreValidLocal(bkFull, 10);
    TOptions other;
    other.Load(Data.Path());
    other.SetBackupCount(25);
    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();
    EXPECT_EQ(dialog.SEdBackupCount->value(), 25);

    other.SetLocalDirectory("/jinde");
    other.SetRunEvery(4);
    dialog.EdEvery->setValue(3);  // the user's own change of a key the other process wrote
    dialog.EdUser->setText("karel");
    dialog.BtnApply->click();
    other.SetBackupCount(30);
    dialog.EdHost->setText("server");
    dialog.BtnOk->click();
    ASSERT_TRUE(dialog.Applied());

    TOptions file;
    file.Load(Data.Path());
    EXPECT_EQ(file.LocalDirectory(), "/jinde");
    EXPECT_EQ(file.BackupCount(), 30);
    EXPECT_EQ(file.RunEvery(), 3);
    EXPECT_EQ(file.RemoteUser(), "karel");
    EXPECT_EQ(file.RemoteHost(), "server");
    EXPECT_EQ(file.FileChoose(), "/home/user/vyber.txt");
    EXPECT_EQ(Options.LocalDirectory(), "/jinde");
}

TEST_F(OptionsDialogTest, NoPauseWhileTheWorkerIsBusy) {
    StoreValidLocal(bkFull, 10);
    for (int busy = 0; busy < 2; ++busy) {
        Worker.Backup = busy == 0;
        Worker.Transfer = busy == 1;
        TDiOptions dialog(Worker);
        dialog.LoadFromOptions();
        dialog.BtnOk->click();
        EXPECT_TRUE(dialog.Applied());
    }
    EXPECT_EQ(Worker.Suspends, 0);
}

TEST_F(OptionsDialogTest, WeekDayOutsideTheWeekLoadsAsNoneAndSavesAsZero) {
    StoreValidLocal(bkIncWeek, 7);
    Options.SetCompletelyWeekBackupDay(9);
    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();
    EXPECT_EQ(dialog.CBComplete->currentIndex(), -1);
    dialog.BtnOk->click();
    EXPECT_EQ(Options.CompletelyWeekBackupDay(), 0);
}

TEST_F(OptionsDialogTest, IntervalBelowOneDayCannotBeEntered) {
    Options.SetRunEvery(0);
    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();
    EXPECT_EQ(dialog.EdEvery->value(), 1);
    dialog.EdEvery->setValue(-5);
    EXPECT_EQ(dialog.EdEvery->value(), 1);
}

TEST_F(OptionsDialogTest, SelectionFileInsideTheDataDirectoryIsStoredRelative) {
    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();
    Prompts.ChosenFile = QString::fromStdString(Data / "vyber/soubory.txt");
    dialog.BtnFile->click();
    EXPECT_EQ(dialog.EdFile->text(), "vyber/soubory.txt");
    EXPECT_EQ(Prompts.Captions.back(), "Vyberte soubor obsahujicí výběr pro zálohování");
    EXPECT_EQ(Prompts.FileDialogFilter, "Všechny soubory (*.*)");

    // The dialog starts at the stored file, resolved against the data directory.
    Prompts.ChosenFile = "/home/user/vyber.txt";
    dialog.BtnFile->click();
    EXPECT_EQ(Prompts.FileDialogInitial, QString::fromStdString(Data / "vyber/soubory.txt"));
    EXPECT_EQ(dialog.EdFile->text(), "/home/user/vyber.txt");

    // Cancelled: unchanged.
    Prompts.ChosenFile.clear();
    dialog.BtnFile->click();
    EXPECT_EQ(dialog.EdFile->text(), "/home/user/vyber.txt");
}

TEST(SelectionPathTest, OnlyAPathBelowTheDirectoryBecomesRelative) {
    EXPECT_EQ(SelectionPathForOptions("/data/sejfko/a.txt", "/data/sejfko"), "a.txt");
    EXPECT_EQ(SelectionPathForOptions("/data/sejfko/a/b.txt", "/data/sejfko/"), "a/b.txt");
    EXPECT_EQ(SelectionPathForOptions("/data/sejfko2/x", "/data/sejfko"), "/data/sejfko2/x");
    EXPECT_EQ(SelectionPathForOptions("/other/data/sejfko/x", "/data/sejfko"),
              "/other/data/sejfko/x");
    EXPECT_EQ(SelectionPathForOptions("/Data/Sejfko/x", "/data/sejfko"), "/Data/Sejfko/x");
    EXPECT_EQ(SelectionPathForOptions("/data/sejfko/x", ""), "/data/sejfko/x");
}

TEST_F(OptionsDialogTest, DirectoryButtonsUseTheirCaptions) {
    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();
    Prompts.ChosenDirectory = "/zalohy";
    dialog.BtnDir->click();
    EXPECT_EQ(dialog.EdDir->text(), "/zalohy");
    EXPECT_EQ(Prompts.Captions.back(), "Výběr adresáře pro uložení zálohy");
    dialog.RBRemote->click();
    Prompts.ChosenDirectory.clear();
    const QString before = dialog.EdLocalTemp->text();
    dialog.BtnLocalTemp->click();
    EXPECT_EQ(dialog.EdLocalTemp->text(), before);
    EXPECT_EQ(Prompts.Captions.back(), "Výběr adresáře pro dočasné uložení tranferované zálohy");
}

TEST_F(OptionsDialogTest, AFailedWriteIsShownAndTheDialogStaysOpen) {
    StoreValidLocal(bkFull, 10);
    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();
    dialog.EdEvery->setValue(5);
    {
        TScopedFault fault(FailUnder(Data.Path(), TFileOperation::Create, EACCES));
        dialog.BtnOk->click();
    }
    ASSERT_EQ(Prompts.Errors.size(), 1u);
    EXPECT_TRUE(Prompts.Errors[0].startsWith("Unable to write to "))
        << Prompts.Errors[0].toStdString();
    EXPECT_FALSE(dialog.Applied());
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Worker.Suspends, 0);
}

TEST_F(OptionsDialogTest, TlsAndArchivePasswordFieldsLoadAndSaveOnlyWhenChanged) {
    StoreValidLocal(bkFull, 10);
    Options.SetSavingKind(skRemote);
    Options.SetRemoteHost("server");
    Options.SetFtpSecurity(1);
    Options.SetFtpCertificate("ab:cd");  // as stored, even if it is no fingerprint
    Options.SetArchivePassword("staré heslo");
    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();
    EXPECT_EQ(dialog.CBTls->text(), "Šifrované spojení (&TLS)");
    EXPECT_TRUE(dialog.CBTls->isChecked());
    EXPECT_EQ(dialog.EdCertificate->text(), "ab:cd");
    for (QLineEdit* edit : {dialog.EdArchivePassword, dialog.EdArchivePasswordRepeat}) {
        EXPECT_EQ(edit->text(), "staré heslo");
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
        EXPECT_EQ(edit->displayText(), "***********");
    }
    EXPECT_NE(dialog.LblArchivePasswordWarning->text().indexOf("Ztracené heslo"), -1);

    // Another process changes the certificate meanwhile: a save that left it alone keeps it.
    TOptions other;
    other.Load(Data.Path());
    other.SetFtpCertificate("cd:ef");
    dialog.EdUser->setText("karel");
    dialog.BtnApply->click();
    EXPECT_EQ(Options.FtpCertificate(), "cd:ef");
    EXPECT_EQ(Options.ArchivePassword(), "staré heslo");

    // Two different passwords: refused with a message, nothing written.
    const std::string fingerprint(64, 'f');
    dialog.CBTls->setChecked(false);
    dialog.EdCertificate->setText(QString::fromStdString(fingerprint));
    dialog.EdArchivePassword->setText("nové heslo");
    dialog.EdArchivePasswordRepeat->setText("nové hesla");
    const std::string before = ReadWholeFile(OptionsFile());
    dialog.BtnOk->click();
    ASSERT_EQ(Prompts.Errors.size(), 1u);
    EXPECT_NE(Prompts.Errors[0].indexOf("liší"), -1) << Prompts.Errors[0].toStdString();
    EXPECT_EQ(ReadWholeFile(OptionsFile()), before);
    EXPECT_NE(dialog.result(), QDialog::Accepted);

    // A fingerprint that is none: refused too.
    dialog.EdArchivePasswordRepeat->setText("nové heslo");
    dialog.EdCertificate->setText("AB:CD:XY");
    dialog.BtnOk->click();
    ASSERT_EQ(Prompts.Errors.size(), 2u);
    EXPECT_NE(Prompts.Errors[1].indexOf("SHA-256"), -1) << Prompts.Errors[1].toStdString();
    EXPECT_EQ(ReadWholeFile(OptionsFile()), before);

    dialog.EdCertificate->setText(QString::fromStdString(fingerprint));
    dialog.BtnOk->click();
    EXPECT_EQ(Prompts.Errors.size(), 2u);
    EXPECT_EQ(Options.FtpSecurity(), 0);
    EXPECT_EQ(Options.FtpCertificate(), fingerprint);
    EXPECT_EQ(Options.ArchivePassword(), "nové heslo");
    EXPECT_TRUE(dialog.Applied());
}

TEST_F(OptionsDialogTest, EnterMovesTheFocusInsteadOfPressingOk) {
    StoreValidLocal(bkFull, 10);
    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    dialog.EdEvery->setFocus();
    ASSERT_TRUE(ProcessEventsUntil([&] { return dialog.EdEvery->hasFocus(); }));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(dialog.EdEvery, &enter);
    EXPECT_FALSE(dialog.EdEvery->hasFocus());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.Applied());
    dialog.reject();
}

// Alt+letter reaches one control only. The two buttons' texts "&Apply" and "&Adresářová cesta:"
// are given and share "a"; every other accelerator is unique.
TEST_F(OptionsDialogTest, NoTwoControlsShareAnAccelerator) {
    TDiOptions dialog(Worker);
    std::map<QChar, QStringList> owners;
    const auto note = [&owners](const QString& text) {
        for (qsizetype at = text.indexOf('&'); at >= 0 && at + 1 < text.size();
             at = text.indexOf('&', at + 2)) {
            if (text.at(at + 1) != '&') {
                owners[text.at(at + 1).toLower()] << text;
                return;
            }
        }
    };
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        note(label->text());
    }
    for (const QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        note(button->text());
    }
    EXPECT_EQ(owners['a'], (QStringList{"&Adresářová cesta:", "&Apply"}));
    owners.erase('a');
    EXPECT_EQ(owners['t'],
              (QStringList{"&Týdení přírůstkové zálohování", "Šifrované spojení (&TLS)"}));
    owners.erase('t');
    for (const auto& [letter, texts] : owners) {
        EXPECT_EQ(texts.size(), 1)
            << QString(letter).toStdString() << ": " << texts.join(", ").toStdString();
    }
    EXPECT_EQ(dialog.CBAutostart->text(), "Spouštět př&i přihlášení");
    EXPECT_EQ(owners['i'], QStringList{"Spouštět př&i přihlášení"});
    EXPECT_EQ(owners['p'], QStringList{"&Počítač:"});
}

// The autostart entry follows the check box; it lives under $XDG_CONFIG_HOME (an absolute one)
// or else under ~/.config.
TEST_F(OptionsDialogTest, StartAtLoginWritesAndRemovesTheAutostartEntry) {
    QTemporaryDir home;
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", home.path().toUtf8());
    struct TCase {
        const char* Name;
        QByteArray ConfigHome;
        QString Entry;
    };
    const TCase cases[] = {
        {"XDG_CONFIG_HOME", home.filePath("conf").toUtf8(),
         home.filePath("conf/autostart/sejfko.desktop")},
        {"relative XDG_CONFIG_HOME", "conf", home.filePath(".config/autostart/sejfko.desktop")},
        {"no XDG_CONFIG_HOME", "", home.filePath(".config/autostart/sejfko.desktop")},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        qputenv("XDG_CONFIG_HOME", c.ConfigHome);
        Options.SetFileChoose("");
        ASSERT_EQ(AutostartEntryPath(), c.Entry);

        // First start: on by default, written once the user confirms.
        {
            TDiOptions dialog(Worker);
            dialog.LoadFromOptions();
            EXPECT_TRUE(dialog.CBAutostart->isChecked());
            dialog.BtnCancel->click();
            EXPECT_FALSE(QFileInfo::exists(c.Entry));
        }
        {
            TDiOptions dialog(Worker);
            dialog.LoadFromOptions();
            dialog.EdFile->setText("/home/user/vyber.txt");
            dialog.EdDir->setText("/zalohy");
            dialog.BtnOk->click();
            ASSERT_TRUE(dialog.Applied());
        }
        ASSERT_TRUE(QFileInfo::exists(c.Entry));
        EXPECT_TRUE(AutostartEnabled());
        const QString entry = QString::fromStdString(ReadWholeFile(c.Entry.toStdString()));
        EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n")) << entry.toStdString();
        EXPECT_TRUE(entry.contains(
            "\nExec=" + DesktopExecArgument(QCoreApplication::applicationFilePath()) +
            " --config-dir " + DesktopExecArgument(QString::fromStdString(Data.Path())) + "\n"))
            << entry.toStdString();

        // Configured: the box shows the entry; clearing it removes the entry, and it stays off.
        {
            TDiOptions dialog(Worker);
            dialog.LoadFromOptions();
            EXPECT_TRUE(dialog.CBAutostart->isChecked());
            EXPECT_FALSE(dialog.AcApply->isEnabled());
            dialog.CBAutostart->setChecked(false);
            EXPECT_TRUE(dialog.AcApply->isEnabled());
            dialog.BtnApply->click();
            EXPECT_FALSE(QFileInfo::exists(c.Entry));
            dialog.BtnOk->click();
        }
        TDiOptions dialog(Worker);
        dialog.LoadFromOptions();
        EXPECT_FALSE(dialog.CBAutostart->isChecked());
    }
    qputenv("HOME", savedHome);
    qputenv("XDG_CONFIG_HOME", savedConfig);
}

TEST_F(OptionsDialogTest, AnAutostartEntryThatCannotBeWrittenIsShownAndTheDialogStaysOpen) {
    QTemporaryDir config;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    // Where the folder should be, a file is.
    QFile blocker(config.filePath("autostart"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    StoreValidLocal(bkFull, 10);
    TDiOptions dialog(Worker);
    dialog.LoadFromOptions();
    dialog.CBAutostart->setChecked(true);
    dialog.BtnOk->click();
    ASSERT_EQ(Prompts.Errors.size(), 1u);
    EXPECT_TRUE(Prompts.Errors[0].startsWith("Nelze vytvořit adresář "))
        << Prompts.Errors[0].toStdString();
    EXPECT_FALSE(dialog.Applied());
    qputenv("XDG_CONFIG_HOME", saved);
}

TEST(DesktopExecArgumentTest, QuotesReservedCharactersAndEscapesTwice) {
    EXPECT_EQ(DesktopExecArgument("/usr/bin/sejfko"), "/usr/bin/sejfko");
    EXPECT_EQ(DesktopExecArgument("/opt/my apps/sejfko"), "\"/opt/my apps/sejfko\"");
    EXPECT_EQ(DesktopExecArgument("/data/100%"), "/data/100%%");
    EXPECT_EQ(DesktopExecArgument("/data/$HOME \"x\""), "\"/data/\\\\$HOME \\\\\"x\\\\\"\"");
    // A backslash takes four in the file: one for the quoting, doubled for the value.
    EXPECT_EQ(DesktopExecArgument("a\\b"), "\"a\\\\\\\\b\"");
    EXPECT_EQ(DesktopExecArgument("line\nbreak"), "\"line\\nbreak\"");
    EXPECT_EQ(DesktopExecArgument(""), "\"\"");
}

}  // namespace
}  // namespace sejfko::test
