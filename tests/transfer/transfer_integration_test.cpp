// The transfer against real FTP servers (pyftpdlib, which refuses wildcards in "nlst", and
// vsftpd), in active and in passive mode.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <mutex>

#include "backup/backup_thread.hpp"
#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/file_system.hpp"
#include "platform/message_sink.hpp"
#include "support/temp_dir.hpp"
#include "transfer/net_errors.hpp"
#include "transfer/net_ftp.hpp"
#include "transfer/real_ftp_server.hpp"
#include "transfer/transfer_backup.hpp"

namespace sejfko {
namespace {

using test::FtpTestPassword;
using test::FtpTestUser;
using test::ReadWholeFile;
using test::TRealFtpServer;
using test::TServerKind;
using test::TTempDir;

class TCodeSink : public TMessageSink {
public:
    void Post(unsigned message, intptr_t wParam, intptr_t) override {
        std::lock_guard lock(FLock);
        if (message == WM_BACKUP_STATUS &&
            (wParam != bsTransferProgress || FCodes.empty() || FCodes.back() != wParam)) {
            FCodes.push_back(static_cast<int>(wParam));
        }
    }
    void ShowException(const std::string&) override {}
    std::vector<int> Codes() {
        std::lock_guard lock(FLock);
        return FCodes;
    }

private:
    std::mutex FLock;
    std::vector<int> FCodes;
};

struct TParam {
    TServerKind Kind;
    bool Passive;
};

class TransferIntegrationTest : public testing::TestWithParam<TParam> {
protected:
    void SetUp() override {
        FServer = std::make_unique<TRealFtpServer>(GetParam().Kind, FDir.MakeDir("server"));
        if (!FServer->Started()) {
            GTEST_SKIP() << FServer->Reason();
        }
        Options.Load(FDir.Path());
        Options.SetLocalTemporaryDirectory(FTemp);
        Options.SetSavingKind(skRemote);
        Options.SetRemoteHost(FServer->Address());
        Options.SetRemoteUser(FtpTestUser);
        Options.SetRemotePassword(FtpTestPassword);
        Options.SetPassiveMode(GetParam().Passive ? 1 : 0);
        Options.SetBackupCount(3);
    }
    std::vector<std::string> ServerNames() const {
        std::vector<TDirectoryEntry> entries;
        ListDirectory(FServer->Root(), entries);
        std::vector<std::string> names;
        for (const TDirectoryEntry& entry : entries) {
            names.push_back(entry.Name);
        }
        return names;
    }

    TTempDir FDir;
    std::string FTemp = FDir.MakeDir("Temp");
    std::unique_ptr<TRealFtpServer> FServer;
    TCodeSink FSink;
    TScopedMessageSink FScopedSink{FSink};
    TManualClock FClock{46000.25};
    TScopedClock FScopedClock{FClock};
};

TEST_P(TransferIntegrationTest, UploadsReplacesAndPrunesByNameOrder) {
    const std::string archive = "Backup_20261208_1200.fbk";
    std::string content(3 << 20, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 131) >> 7);
    }
    FDir.WriteFile("Temp/" + archive, content);
    const std::string root = FServer->Root();
    for (const char* old : {"Backup_20261201_1200_full.fbk", "Backup_20261202_1200.fbk",
                            "Backup_20261203_1200_full.fbk", "Backup_20261204_1200.fbk"}) {
        WriteFileAtomically(root + "/" + old, "old", 0644);
    }
    WriteFileAtomically(root + "/" + archive, "stale copy", 0644);
    WriteFileAtomically(root + "/readme.txt", "keep", 0644);
    Options.SetFileCountForTransfer(1);

    TBackupThread worker;
    ASSERT_TRUE(worker.TransferBackup()) << LastTransferErrorText();

    EXPECT_EQ(FSink.Codes(), (std::vector<int>{6, 9, 8, 4}));
    EXPECT_EQ(ReadWholeFile(root + "/" + archive), content);
    // Three archives kept: the two newest old ones back to the complete one they need, and ours.
    EXPECT_EQ(ServerNames(),
              (std::vector<std::string>{"Backup_20261203_1200_full.fbk", "Backup_20261204_1200.fbk",
                                        archive, "readme.txt"}));
    EXPECT_FALSE(FileExists(FTemp + "/" + archive));
    EXPECT_EQ(Options.FileCountForTransfer(), 0);
    EXPECT_EQ(Options.LastTransfer(), 46000.25);
}

TEST_P(TransferIntegrationTest, EmptyTemporaryDirectoryResetsTheCount) {
    Options.SetFileCountForTransfer(2);
    TBackupThread worker;
    EXPECT_TRUE(worker.TransferBackup());
    EXPECT_EQ(Options.FileCountForTransfer(), 0);
    EXPECT_EQ(Options.LastTransfer(), 0.0);
    EXPECT_EQ(FSink.Codes(), (std::vector<int>{8, 4}));
}

TEST_P(TransferIntegrationTest, ClientCommandsWork) {
    TNetFTP ftp;
    ftp.Host = "127.0.0.1";
    ftp.Port = std::stoi(FServer->Address().substr(10));
    ftp.User = FtpTestUser;
    ftp.Password = FtpTestPassword;
    ftp.Passive = GetParam().Passive;
    const std::string local = FDir.WriteFile("a.fbk", std::string(100000, 'a'));
    ftp.Connect(true);
    ftp.Put(local, "a.fbk");
    ftp.Get("a.fbk", FDir / "back.fbk");
    std::vector<std::string> names;
    ftp.ListNames(names, "*.fbk");
    ftp.Delete("a.fbk");
    EXPECT_THROW(ftp.Get("a.fbk", FDir / "gone.fbk"), ENetProtocolReplyError);
    ftp.Disconnect();
    EXPECT_EQ(names, std::vector<std::string>{"a.fbk"});
    EXPECT_EQ(ReadWholeFile(FDir / "back.fbk"), std::string(100000, 'a'));
    EXPECT_FALSE(FileExists(FDir / "gone.fbk"));
    EXPECT_TRUE(ServerNames().empty());
}

TEST_P(TransferIntegrationTest, CommandLineSendsEverythingWaiting) {
    FDir.WriteFile("Temp/Backup_20261207_1200_full.fbk", "one");
    FDir.WriteFile("Temp/Backup_20261208_1200.fbk", "two");
    Options.SetFileCountForTransfer(2);
    const std::string command = std::string(SEJFKO_CLI_PATH) + " --config-dir '" + FDir.Path() +
                                "' transfer >'" + (FDir / "out.txt") + "' 2>'" +
                                (FDir / "err.txt") + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << ReadWholeFile(FDir / "err.txt");
    EXPECT_EQ(ServerNames(), (std::vector<std::string>{"Backup_20261207_1200_full.fbk",
                                                       "Backup_20261208_1200.fbk"}));
    Options.Load(FDir.Path());
    EXPECT_EQ(Options.FileCountForTransfer(), 0);
    EXPECT_NE(ReadWholeFile(FDir / "out.txt").find("Přeneseno souborů: 2"), std::string::npos);

    // A wrong password: nothing sent, exit status 1, the reason shown.
    FDir.WriteFile("Temp/Backup_20261209_1200.fbk", "three");
    Options.SetFileCountForTransfer(1);
    Options.SetRemotePassword("wrong");
    const int refused = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(refused));
    EXPECT_EQ(WEXITSTATUS(refused), 1);
    EXPECT_NE(ReadWholeFile(FDir / "err.txt").find("Na přenos čeká souborů: 1"), std::string::npos)
        << ReadWholeFile(FDir / "err.txt");
    EXPECT_TRUE(FileExists(FTemp + "/Backup_20261209_1200.fbk"));
}

INSTANTIATE_TEST_SUITE_P(
    Servers, TransferIntegrationTest,
    testing::Values(TParam{TServerKind::Pyftpdlib, false}, TParam{TServerKind::Pyftpdlib, true},
                    TParam{TServerKind::Vsftpd, false}, TParam{TServerKind::Vsftpd, true}),
    [](const auto& info) {
        return std::string(info.param.Kind == TServerKind::Pyftpdlib ? "Pyftpdlib" : "Vsftpd") +
               (info.param.Passive ? "Passive" : "Active");
    });

}  // namespace
}  // namespace sejfko
