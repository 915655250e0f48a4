// The restore dialog over a chain that real backup runs made: the points it lists, a chosen
// point and a chosen subset restored equal to the tree of that moment, the original place with
// newer files kept, and a cancel in the middle of a file that leaves no partial file behind.

#include "gui/restore_dialog.hpp"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "backup/backup_run_fixture.hpp"
#include "backup/run_history.hpp"
#include "gui/gui_test_support.hpp"
#include "gui/main_window.hpp"
#include "gui/restore_file_tree.hpp"
#include "platform/fault_injection.hpp"
#include "support/tree_snapshot.hpp"

namespace sejfko::test {
namespace {

class RestoreDialogTest : public BackupRunTest {
protected:
    // Three days of real runs: a complete archive, then two incremental ones (a file changed,
    // one deleted, one added; then another change and addition).
    void MakeChain() {
        Options.SetBackupKind(bkIncWeek);
        Source("a.txt", "alpha", 1);
        Source("sub/b.txt", "beta", 1);
        Source("sub/c.bin", RandomBytes(200000), 1);
        Source("gone.txt", "soon gone", 1);
        RunOn(1);
        Days.push_back(TakeSnapshot(Dir / "src"));
        Source("a.txt", "alpha, second version", 2);
        ASSERT_EQ(::unlink((Dir / "src/gone.txt").c_str()), 0);
        Source("sub/new.txt", "new on day 2", 2);
        RunOn(2);
        Days.push_back(TakeSnapshot(Dir / "src"));
        Source("sub/b.txt", "beta, third version", 3);
        Source("d.txt", "day 3", 3);
        RunOn(3);
        Days.push_back(TakeSnapshot(Dir / "src"));
        ASSERT_EQ(Archives(),
                  (Names{ArchiveOf(1, true), ArchiveOf(2, false), ArchiveOf(3, false)}));
    }

    void Open() {
        Dialog = std::make_unique<TDiRestore>(Dir / "data");
        connect();
        ASSERT_TRUE(ProcessEventsUntil([this] { return !Dialog->Busy(); }));
    }
    void connect() {
        QObject::connect(Dialog.get(), &TDiRestore::RestoreFinished,
                         [this](const QString& summary, bool succeeded) {
                             Finished.push_back(summary);
                             Succeeded = succeeded;
                         });
    }
    // Chooses the point shown in row `row` (0: the newest) and waits for its files.
    void ChoosePoint(int row) {
        Dialog->LvPoints->setCurrentItem(Dialog->LvPoints->topLevelItem(row));
        ASSERT_TRUE(ProcessEventsUntil([this] { return !Dialog->Busy(); }));
    }
    void RestoreInto(const std::string& target) {
        Dialog->EdTarget->setText(QString::fromStdString(target));
        ASSERT_TRUE(Dialog->BtnRestore->isEnabled());
        Dialog->BtnRestore->click();
        ASSERT_TRUE(ProcessEventsUntil([this] { return !Dialog->Busy(); }));
    }
    // Where the files of src/ land below a restore target.
    std::string Restored(const std::string& target) const {
        return target + "/" + Stored(Dir / "src");
    }
    std::string File(const std::string& relative) const {
        return Stored(Dir / "src") + "/" + relative;
    }

    TRecordedPrompts Prompts;
    std::vector<TSnapshot> Days;
    std::unique_ptr<TDiRestore> Dialog;
    std::vector<QString> Finished;
    bool Succeeded = false;
};

TEST_F(RestoreDialogTest, ListsThePointsOfTheChainAndRestoresAChosenOneAsItWas) {
    MakeChain();
    Open();
    ASSERT_EQ(Dialog->Points().size(), 3u);
    QTreeWidget* points = Dialog->LvPoints;
    ASSERT_EQ(points->topLevelItemCount(), 3);
    const char* kinds[] = {"Přírůstková", "Přírůstková", "Úplná"};
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        const int day = 3 - row;  // newest first
        EXPECT_EQ(points->topLevelItem(row)->text(0).toStdString(),
                  "2024-01-0" + std::to_string(day) + " 20:00");
        EXPECT_EQ(points->topLevelItem(row)->text(1), QString::fromUtf8(kinds[row]));
        const int64_t size = GetFileStatus(Dir / ("out/" + ArchiveOf(day, day == 1))).Size;
        EXPECT_EQ(points->topLevelItem(row)->text(2),
                  QLocale(QLocale::Czech).formattedDataSize(size));
    }
    // The newest point is chosen at once; the target starts empty.
    EXPECT_EQ(Dialog->TvFiles->FileCount(), Days[2].size());
    EXPECT_TRUE(Dialog->EdTarget->text().isEmpty());
    EXPECT_FALSE(Dialog->CbOriginalPlace->isChecked());

    // Every point gives exactly the tree of its day.
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        ChoosePoint(row);
        ASSERT_EQ(Dialog->TvFiles->FileCount(), Days[2 - row].size());
        const std::string target = Dir / ("restored" + std::to_string(row));
        RestoreInto(target);
        EXPECT_EQ(CompareSnapshots(Days[2 - row], TakeSnapshot(Restored(target))), "");
        ASSERT_EQ(Finished.size(), static_cast<std::size_t>(row + 1));
        EXPECT_TRUE(Succeeded);
        EXPECT_TRUE(Dialog->ResultText().startsWith(
            QStringLiteral("Obnova je dokončena. Obnoveno souborů: %1").arg(Days[2 - row].size())))
            << Dialog->ResultText().toStdString();
    }
    // Each restore is in the history.
    std::size_t restores = 0;
    for (const THistoryRecord& record : ReadHistory(Dir / "data")) {
        restores += record.Kind == HistoryRestore && record.Succeeded ? 1 : 0;
    }
    EXPECT_EQ(restores, 3u);
    // A target that is not empty is used only after a question.
    Prompts.ConfirmAnswer = false;
    Dialog->EdTarget->setText(QString::fromStdString(Dir / "restored0"));
    Dialog->BtnRestore->click();
    EXPECT_EQ(Prompts.Confirmations.size(), 1u);
    EXPECT_FALSE(Dialog->Busy());
    EXPECT_EQ(Finished.size(), 3u);
}

// Archives made with the configured password are listed and restored with it.
TEST_F(RestoreDialogTest, AnEncryptedChainRestoresWithTheConfiguredPassword) {
    Options.SetArchivePassword("tajné heslo");
    MakeChain();
    Open();
    ASSERT_EQ(Dialog->Points().size(), 3u);
    EXPECT_EQ(Dialog->TvFiles->FileCount(), Days[2].size());
    const std::string target = Dir / "restored";
    RestoreInto(target);
    EXPECT_TRUE(Succeeded) << Dialog->ResultText().toStdString();
    EXPECT_EQ(CompareSnapshots(Days[2], TakeSnapshot(Restored(target))), "");
}

TEST_F(RestoreDialogTest, UncheckedFilesAndFoldersAreLeftOut) {
    MakeChain();
    Open();
    ChoosePoint(1);  // day 2
    TFileTree* tree = Dialog->TvFiles;
    ASSERT_NE(tree->ItemOf(File("sub")), nullptr);
    ASSERT_NE(tree->ItemOf(File("sub/new.txt")), nullptr);
    ASSERT_EQ(tree->ItemOf(File("gone.txt")), nullptr);  // deleted before day 2
    tree->ItemOf(File("sub"))->setCheckState(0, Qt::Unchecked);
    tree->ItemOf(File("sub/new.txt"))->setCheckState(0, Qt::Checked);
    EXPECT_EQ(tree->ItemOf(File("sub"))->checkState(0), Qt::PartiallyChecked);
    const std::string target = Dir / "subset";
    RestoreInto(target);
    TSnapshot expected = Days[1];
    expected.erase("sub/b.txt");
    expected.erase("sub/c.bin");
    EXPECT_EQ(CompareSnapshots(expected, TakeSnapshot(Restored(target))), "");
    EXPECT_TRUE(Succeeded);

    // Nothing checked: nothing to start.
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        tree->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
    }
    Dialog->EdTarget->setText(QString::fromStdString(Dir / "none"));
    Dialog->BtnRestore->click();
    EXPECT_FALSE(Dialog->Busy());
    EXPECT_EQ(Prompts.Errors.size(), 1u);
    EXPECT_FALSE(DirectoryExists(Dir / "none"));
}

TEST_F(RestoreDialogTest, OriginalPlaceAsksBeforeNewerFilesAndKeepsTheirs) {
    MakeChain();
    // Since day 3 the user edited a.txt (newer than any backup), damaged b.txt with an old
    // stamp, and made gone.txt again.
    Source("a.txt", "the user's newest", 9);
    Source("sub/b.txt", "damaged", 1);
    Source("gone.txt", "made again", 9);
    Open();
    ChoosePoint(1);  // day 2
    Dialog->CbOriginalPlace->setChecked(true);
    EXPECT_FALSE(Dialog->EdTarget->isEnabled());
    Prompts.ConfirmAnswer = false;  // keep the newer ones
    Dialog->BtnRestore->click();
    ASSERT_TRUE(ProcessEventsUntil([this] { return !Dialog->Busy(); }));
    ASSERT_EQ(Prompts.Confirmations.size(), 1u);
    EXPECT_TRUE(Prompts.Confirmations[0].contains(QString::fromStdString(Dir / "src/a.txt")));
    TSnapshot expected = Days[1];
    expected["a.txt"] = TakeSnapshot(Dir / "src")["a.txt"];
    expected["gone.txt"] = TakeSnapshot(Dir / "src")["gone.txt"];  // deleted by the chain: kept
    expected["d.txt"] = Days[2]["d.txt"];                          // not in day 2: untouched
    EXPECT_EQ(CompareSnapshots(expected, TakeSnapshot(Dir / "src")), "");
    EXPECT_FALSE(Succeeded);
    EXPECT_TRUE(Dialog->ResultText().contains(QStringLiteral("Vynecháno: 1")));
    EXPECT_TRUE(Dialog->ResultText().contains(QStringLiteral("ponechán: na místě je novější")));
}

TEST_F(RestoreDialogTest, CancelInTheMiddleOfAFileLeavesNoPartOfIt) {
    Source("a.txt", "small, written first", 1);
    Source("z.bin", RandomBytes(8 << 20), 1);
    RunOn(1);
    Open();
    const std::string target = Dir / "cancelled";
    const std::string big = Restored(target) + "/z.bin";
    // The first write of the big file holds until the test has pressed "Zrušit".
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    TScopedFault hold([&](TFileOperation operation, const std::string& path) {
        if (operation == TFileOperation::Write && path == big) {
            std::unique_lock guard(lock);
            if (!entered) {
                entered = true;
                changed.notify_all();
                changed.wait_for(guard, WorkerTimeout, [&] { return released; });
            }
        }
        return 0;
    });
    Dialog->EdTarget->setText(QString::fromStdString(target));
    Dialog->BtnRestore->click();
    ASSERT_TRUE(ProcessEventsUntil([&] {
        std::lock_guard guard(lock);
        return entered;
    }));
    // Files are written on several threads and put in place in archive order: the small one
    // is in place before the cancel once its worker is done, whatever the big one waits for.
    ASSERT_TRUE(ProcessEventsUntil([&] { return FileExists(Restored(target) + "/a.txt"); }));
    EXPECT_TRUE(Dialog->BtnCancel->isEnabled());
    Dialog->BtnCancel->click();
    {
        std::lock_guard guard(lock);
        released = true;
    }
    changed.notify_all();
    ASSERT_TRUE(ProcessEventsUntil([this] { return !Dialog->Busy(); }));
    EXPECT_FALSE(FileExists(big));
    EXPECT_EQ(EntryNames(Restored(target)), (Names{"a.txt"}));  // no temporary file either
    EXPECT_EQ(ReadWholeFile(Restored(target) + "/a.txt"), "small, written first");
    ASSERT_EQ(Finished.size(), 1u);
    EXPECT_FALSE(Succeeded);
    EXPECT_TRUE(Finished[0].startsWith(QStringLiteral("Obnova byla zrušena.")))
        << Finished[0].toStdString();
}

TEST_F(RestoreDialogTest, EndOfSessionDuringARestoreCancelsItWithoutAQuestion) {
    Source("z.bin", RandomBytes(4 << 20), 1);
    RunOn(1);
    TFakeWorker worker;
    TFoMain window(worker);
    window.Initialize(Dir / "data");
    const std::string big = Restored(Dir / "ended") + "/z.bin";
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    const auto release = [&] {
        {
            std::lock_guard guard(lock);
            released = true;
        }
        changed.notify_all();
    };
    TScopedFault hold([&](TFileOperation operation, const std::string& path) {
        if (operation == TFileOperation::Write && path == big) {
            std::unique_lock guard(lock);
            if (!entered) {
                entered = true;
                changed.wait_for(guard, WorkerTimeout, [&] { return released; });
            }
        }
        return 0;
    });
    WhenModalOpens([&](QWidget* modal) {
        auto* dialog = qobject_cast<TDiRestore*>(modal);
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(ProcessEventsUntil([dialog] { return !dialog->Busy(); }));
        dialog->EdTarget->setText(QString::fromStdString(Dir / "ended"));
        dialog->BtnRestore->click();
        ASSERT_TRUE(ProcessEventsUntil([&] {
            std::lock_guard guard(lock);
            return entered;
        }));
        // Released from inside the wait for the restore to end, once the stop is requested.
        QTimer::singleShot(0, release);
        window.EndSession();
    });
    window.AcRestore->trigger();
    release();
    EXPECT_TRUE(Prompts.Confirmations.empty());
    EXPECT_EQ(window.RestoreDialog(), nullptr);
    EXPECT_FALSE(FileExists(big));
    EXPECT_TRUE(EntryNames(Restored(Dir / "ended")).empty());
    EXPECT_FALSE(window.TrayIcon->CycleIcons());
    EXPECT_TRUE(
        window.TrayIcon->LastBalloon().Text.startsWith(QStringLiteral("Obnova byla zrušena.")))
        << window.TrayIcon->LastBalloon().Text.toStdString();
}

TEST_F(RestoreDialogTest, TrayCommandOpensTheDialogAndTheTrayShowsTheRestore) {
    MakeChain();
    TFakeWorker worker;
    TFoMain window(worker);
    window.Initialize(Dir / "data");
    const QList<QAction*> menu = window.PMTray->actions();
    ASSERT_EQ(menu.indexOf(window.AcRestore), menu.indexOf(window.AcBackupImm) + 1);
    EXPECT_EQ(window.AcRestore->text(), QStringLiteral("&Obnovit soubory..."));
    EXPECT_EQ(window.BtnRestore->text(), QStringLiteral("Obnovit &soubory..."));
    bool animated = false;
    QString hint;
    WhenModalOpens([&](QWidget* modal) {
        auto* dialog = qobject_cast<TDiRestore*>(modal);
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(ProcessEventsUntil([dialog] { return !dialog->Busy(); }));
        dialog->EdTarget->setText(QString::fromStdString(Dir / "via-tray"));
        dialog->BtnRestore->click();
        animated = window.TrayIcon->CycleIcons();
        hint = window.TrayIcon->ToolTip();
        ASSERT_TRUE(ProcessEventsUntil([dialog] { return !dialog->Busy(); }));
        dialog->reject();
    });
    window.AcRestore->trigger();
    EXPECT_TRUE(animated);
    EXPECT_EQ(hint, QStringLiteral("Sejfko - obnova souborů"));
    EXPECT_FALSE(window.TrayIcon->CycleIcons());
    EXPECT_TRUE(
        window.TrayIcon->LastBalloon().Text.startsWith(QStringLiteral("Obnova je dokončena.")));
    EXPECT_EQ(CompareSnapshots(Days[2], TakeSnapshot(Restored(Dir / "via-tray"))), "");
    EXPECT_EQ(window.RestoreDialog(), nullptr);
}

}  // namespace
}  // namespace sejfko::test
