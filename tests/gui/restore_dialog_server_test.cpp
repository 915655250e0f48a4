// The restore dialog with the FTP server of the options as its source (pyftpdlib on loopback):
// the points are the server's archives and those still waiting for transfer, only the chain of
// the chosen point is downloaded, and the download folder goes with the dialog.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <filesystem>

#include "backup/backup_run_fixture.hpp"
#include "gui/gui_test_support.hpp"
#include "gui/restore_dialog.hpp"
#include "gui/restore_file_tree.hpp"
#include "restore/py_ftp_server.hpp"
#include "support/tree_snapshot.hpp"

namespace sejfko::test {
namespace {

class RestoreDialogServerTest : public BackupRunTest {};

TEST_F(RestoreDialogServerTest, ServerArchivesAndThoseWaitingMakeOneChain) {
    Options.SetBackupKind(bkIncWeek);
    Source("a.txt", "alpha", 1);
    Source("sub/b.txt", "beta", 1);
    RunOn(1);
    Source("a.txt", "alpha, second", 2);
    RunOn(2);
    Source("c.txt", "gamma", 3);
    RunOn(3);
    const TSnapshot lastDay = TakeSnapshot(Dir / "src");
    // The first two were sent; the third still waits in the temporary folder.
    Dir.MakeDir("ftp");
    Dir.MakeDir("waiting");
    for (int day = 1; day <= 3; ++day) {
        const std::string name = ArchiveOf(day, day == 1);
        std::filesystem::rename(Dir / ("out/" + name),
                                Dir / ((day < 3 ? "ftp/" : "waiting/") + name));
    }
    TPyFtpServer server(Dir / "ftp", "zaloha", "heslo");
    ASSERT_NE(server.Port, 0) << "pyftpdlib did not start";
    Options.SetSavingKind(skRemote);
    Options.SetRemoteHost("127.0.0.1:" + std::to_string(server.Port));
    Options.SetRemoteUser("zaloha");
    Options.SetRemotePassword("heslo");
    Options.SetPassiveMode(1);
    Options.SetLocalTemporaryDirectory(Dir / "waiting");

    TRecordedPrompts prompts;
    auto dialog = std::make_unique<TDiRestore>(Dir / "data");
    ASSERT_TRUE(ProcessEventsUntil([&] { return !dialog->Busy(); }));
    EXPECT_TRUE(dialog->RbOptionsSource->text().contains(
        QString::fromStdString("127.0.0.1:" + std::to_string(server.Port))));
    ASSERT_EQ(dialog->LvPoints->topLevelItemCount(), 3) << dialog->LblStep->text().toStdString();
    // The newest point's chain is downloaded at once; its sizes are known from then on.
    EXPECT_EQ(dialog->TvFiles->FileCount(), lastDay.size());
    for (int row = 0; row < 3; ++row) {
        EXPECT_NE(dialog->LvPoints->topLevelItem(row)->text(2), QStringLiteral("?")) << row;
    }
    std::vector<std::string> downloads;
    for (const std::string& name : EntryNames(Dir / "waiting")) {
        if (name.rfind(".restore", 0) == 0) {
            downloads.push_back(Dir / ("waiting/" + name));
        }
    }
    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_EQ(EntryNames(downloads[0]), (Names{ArchiveOf(1, true), ArchiveOf(2, false)}));

    dialog->EdTarget->setText(QString::fromStdString(Dir / "restored"));
    dialog->BtnRestore->click();
    ASSERT_TRUE(ProcessEventsUntil([&] { return !dialog->Busy(); }));
    EXPECT_TRUE(dialog->ResultText().startsWith(QStringLiteral("Obnova je dokončena.")))
        << dialog->ResultText().toStdString();
    EXPECT_EQ(CompareSnapshots(lastDay, TakeSnapshot(Dir / ("restored/" + Stored(Dir / "src")))),
              "");
    dialog.reset();
    EXPECT_FALSE(DirectoryExists(downloads[0]));
    EXPECT_EQ(EntryNames(Dir / "ftp"), (Names{ArchiveOf(1, true), ArchiveOf(2, false)}));
}

}  // namespace
}  // namespace sejfko::test
