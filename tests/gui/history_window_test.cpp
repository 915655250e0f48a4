// The "Historie" window: the table of `sejfko-cli log`, newest first, failed records in red.

#include "gui/history_window.hpp"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTreeWidget>

#include "backup/history_table.hpp"
#include "backup/run_history.hpp"
#include "gui/gui_test_support.hpp"
#include "gui/main_window.hpp"

namespace sejfko::test {
namespace {

THistoryRecord Record(int day, const char* kind, bool succeeded, const char* archive,
                      const char* result) {
    THistoryRecord record;
    record.Start = EncodeDateTime(2024, 3, day, 20, 0, 0);
    record.End = record.Start + 30.0 / 86400;
    record.Kind = kind;
    record.Succeeded = succeeded;
    record.Archive = archive;
    record.Result = result;
    record.Files = static_cast<uint64_t>(day);
    return record;
}

class HistoryWindowTest : public TOptionsFixture {};

TEST_F(HistoryWindowTest, ShowsTheLogTableNewestFirstWithFailuresInRed) {
    const std::vector<THistoryRecord> records = {
        Record(1, HistoryComplete, true, "Backup_20240301_2000_full.fbk",
               "Záloha byla úspěšně dokončena."),
        Record(2, HistoryIncremental, false, "Backup_20240302_2000.fbk",
               "Chyba při zálohování.\n\r(Disk je plný)"),
        Record(3, HistoryTransfer, true, "", "Přenos je dokončen"),
    };
    for (const THistoryRecord& record : records) {
        ASSERT_TRUE(AppendHistory(Data.Path(), record));
    }
    TDiHistory window(Data.Path());
    QTreeWidget* table = window.LvHistory;
    ASSERT_EQ(table->columnCount(), static_cast<int>(HistoryColumns().size()));
    for (int column = 0; column < table->columnCount(); ++column) {
        EXPECT_EQ(table->headerItem()->text(column).toStdString(),
                  HistoryColumns()[static_cast<std::size_t>(column)]);
    }
    ASSERT_EQ(table->topLevelItemCount(), 3);
    const QColor red(Qt::red);
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        // Read back as stored, so the cells are those the command prints.
        const THistoryRow expected = HistoryRowOf(ReadHistory(Data.Path())[2 - row]);
        const QTreeWidgetItem* item = table->topLevelItem(row);
        for (int column = 0; column < table->columnCount(); ++column) {
            EXPECT_EQ(item->text(column).toStdString(),
                      expected.Cells[static_cast<std::size_t>(column)]);
            EXPECT_EQ(item->foreground(column).color() == red, expected.Failed);
        }
        EXPECT_EQ(item->childCount(), static_cast<int>(expected.Details.size()));
    }
    EXPECT_EQ(table->topLevelItem(0)->text(1), QStringLiteral("přenos"));
    EXPECT_EQ(table->topLevelItem(0)->text(7), QStringLiteral("Přenos je dokončen"));
    const QTreeWidgetItem* failed = table->topLevelItem(1);
    EXPECT_EQ(failed->text(2), QStringLiteral("CHYBA"));
    ASSERT_EQ(failed->childCount(), 1);
    EXPECT_EQ(failed->child(0)->text(0), QStringLiteral("Chyba při zálohování."));
    EXPECT_EQ(failed->child(0)->foreground(0).color(), red);
    EXPECT_NE(table->topLevelItem(2)->foreground(0).color(), red);

    // A record written meanwhile shows after "Načíst znovu".
    ASSERT_TRUE(AppendHistory(Data.Path(), Record(4, HistoryRestore, true, "", "Obnoveno.")));
    window.Reload();
    ASSERT_EQ(table->topLevelItemCount(), 4);
    EXPECT_EQ(table->topLevelItem(0)->text(1), QStringLiteral("obnova"));
}

TEST_F(HistoryWindowTest, MainWindowButtonOpensItAndAnEmptyHistorySaysSo) {
    TRecordedPrompts prompts;
    TFakeWorker worker;
    TFoMain window(worker);
    window.Initialize(Data.Path());
    EXPECT_EQ(window.BtnHistory->text(), QStringLiteral("&Historie"));
    QString shown;
    WhenModalOpens([&](QWidget* modal) {
        auto* history = qobject_cast<TDiHistory*>(modal);
        ASSERT_NE(history, nullptr);
        shown = history->LvHistory->topLevelItem(0)->text(0);
        history->reject();
    });
    window.BtnHistory->click();
    EXPECT_EQ(shown, QStringLiteral("Historie je prázdná."));
}

}  // namespace
}  // namespace sejfko::test
