#include "transfer/transfer_backup.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <regex>

#include "backup/backup_thread.hpp"
#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "platform/message_sink.hpp"
#include "support/temp_dir.hpp"
#include "transfer/fake_ftp_server.hpp"
#include "transfer/net_tcp_connection.hpp"

namespace sejfko {
namespace {

using test::TFakeFtpServer;
using test::TFakeSession;
using test::TTempDir;

class TStatusSink : public TMessageSink {
public:
    void Post(unsigned message, intptr_t wParam, intptr_t lParam) override {
        std::lock_guard lock(FLock);
        if (message == WM_BACKUP_STATUS) {
            FStatuses.push_back(static_cast<int>(wParam));
            if (wParam == bsTransferProgress) {
                FPercents.push_back(static_cast<int>(lParam));
            }
        }
    }
    void ShowException(const std::string&) override {}
    // Codes with runs of progress (9) shown once.
    std::vector<int> Codes() {
        std::lock_guard lock(FLock);
        std::vector<int> codes;
        for (int code : FStatuses) {
            if (code != bsTransferProgress || codes.empty() || codes.back() != bsTransferProgress) {
                codes.push_back(code);
            }
        }
        return codes;
    }
    std::vector<int> Percents() {
        std::lock_guard lock(FLock);
        return FPercents;
    }

private:
    std::mutex FLock;
    std::vector<int> FStatuses;
    std::vector<int> FPercents;
};

constexpr TDateTime StartTime = 46000.5;
const char* const Archive = "Backup_20261208_1200_full.fbk";

// Options in a fresh directory pointing at the fake server, one archive waiting.
struct TTransferFixture {
    TTempDir Dir;
    std::string Temp = Dir.MakeDir("Temp");
    TFakeFtpServer Server;
    TStatusSink Sink;
    TScopedMessageSink ScopedSink{Sink};
    TManualClock Clock{StartTime};
    TScopedClock ScopedClock{Clock};
    std::string Content = std::string(300000, 'q');

    TTransferFixture() {
        TNetTimeouts timeouts;
        timeouts.Connect = timeouts.Reply = timeouts.Accept = timeouts.Data = 10000;
        timeouts.Completion = 10000;
        SetDefaultNetTimeouts(timeouts);
        Options.Load(Dir.Path());
        Options.SetLocalTemporaryDirectory(Temp);
        Options.SetSavingKind(skRemote);
        Options.SetRemoteHost(Server.Address());
        Options.SetRemoteUser("zaloha");
        Options.SetRemotePassword("heslo");
        Options.SetBackupCount(3);
        Options.SetFileCountForTransfer(1);
        Dir.WriteFile(std::string("Temp/") + Archive, Content);
    }
    ~TTransferFixture() {
        Server.Stop();
        SetDefaultNetTimeouts(TNetTimeouts());
    }
    std::string Local() const { return Temp + "/" + Archive; }
};

TEST(TransferBackup, SendsPrunesAndCountsWithTheExactCommandBytes) {
    TTransferFixture f;
    f.Server.Files = {{"Backup_20261201_1200_full.fbk", "1"},
                      {"Backup_20261202_1200_full.fbk", "2"},
                      {"Backup_20261203_1200_full.fbk", "3"},
                      {"Backup_20261204_1200_full.fbk", "4"},
                      {"notes.txt", "n"}};
    f.Server.Start();
    TBackupThread worker;
    EXPECT_TRUE(worker.TransferBackup());
    EXPECT_FALSE(worker.TransferRunning.load());
    f.Server.Stop();

    const std::string port = "PORT 127,0,0,1,[0-9]{1,3},[0-9]{1,3}\r\n";
    EXPECT_TRUE(std::regex_match(
        f.Server.Transcript(),
        std::regex(std::string("user zaloha\r\npass heslo\r\ntype I\r\nsyst\r\n") +
                   "DELE Backup_20261208_1200_full.fbk\r\n" + port +
                   "STOR Backup_20261208_1200_full.fbk\r\n" + port + "nlst \\*.fbk\r\n" +
                   "DELE Backup_20261201_1200_full.fbk\r\nDELE Backup_20261202_1200_full.fbk\r\n")))
        << f.Server.Transcript();
    const auto files = f.Server.FilesNow();
    EXPECT_EQ(files.size(), 4u);
    EXPECT_EQ(files.at(Archive), f.Content);
    EXPECT_EQ(files.count("Backup_20261202_1200_full.fbk"), 0u);
    EXPECT_FALSE(FileExists(f.Local()));
    EXPECT_EQ(Options.FileCountForTransfer(), 0);
    EXPECT_EQ(Options.LastTransfer(), StartTime);
    EXPECT_EQ(f.Sink.Codes(), (std::vector<int>{6, 9, 8, 4}));
    const std::vector<int> percents = f.Sink.Percents();
    ASSERT_GE(percents.size(), 3u);
    EXPECT_EQ(percents.front(), 0);
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(worker.TransferTotal.load(), static_cast<int64_t>(f.Content.size()));
}

TEST(TransferBackup, EmptyTemporaryDirectorySetsTheCountToZeroWithoutConnecting) {
    TTransferFixture f;
    ASSERT_TRUE(DeleteFile(f.Local()));
    f.Dir.MakeDir("Temp/dir.fbk");  // not a regular file
    Options.SetFileCountForTransfer(3);
    f.Server.Start();
    TBackupThread worker;
    EXPECT_TRUE(worker.TransferBackup());
    f.Server.Stop();
    EXPECT_EQ(f.Server.Sessions(), 0);
    EXPECT_EQ(Options.FileCountForTransfer(), 0);
    EXPECT_EQ(Options.LastTransfer(), 0.0);
    EXPECT_EQ(f.Sink.Codes(), (std::vector<int>{8, 4}));
}

TEST(TransferBackup, OldestRegularArchiveGoesFirst) {
    TTransferFixture f;
    f.Dir.WriteFile("Temp/Backup_20261207_1200.fbk", "older");
    f.Dir.WriteFile("Temp/zzz.txt", "other");
    ASSERT_EQ(::symlink((f.Temp + "/zzz.txt").c_str(), (f.Temp + "/Backup_2020.fbk").c_str()), 0);
    Options.SetFileCountForTransfer(2);
    f.Server.Start();
    TBackupThread worker;
    EXPECT_TRUE(worker.TransferBackup());
    EXPECT_EQ(Options.FileCountForTransfer(), 1);
    EXPECT_TRUE(worker.TransferBackup());
    f.Server.Stop();
    EXPECT_EQ(Options.FileCountForTransfer(), 0);
    const auto files = f.Server.FilesNow();
    EXPECT_EQ(files.at("Backup_20261207_1200.fbk"), "older");
    EXPECT_EQ(files.count("Backup_2020.fbk"), 0u);
    EXPECT_LT(f.Server.Transcript().find("STOR Backup_20261207_1200.fbk"),
              f.Server.Transcript().find(std::string("STOR ") + Archive));
    EXPECT_TRUE(FileExists(f.Temp + "/zzz.txt"));
}

// The server has the archive although its local copy could not be deleted: it is never sent
// again, the newer one goes next, the failure names the file, and the copy goes once it can.
TEST(TransferBackup, AnArchiveWhoseLocalCopyCannotBeDeletedIsNotSentAgain) {
    TTransferFixture f;
    const std::string newer = "Backup_20261209_1200.fbk";
    f.Dir.WriteFile("Temp/" + newer, "newer");
    Options.SetFileCountForTransfer(2);
    f.Server.Start();
    TBackupThread worker;
    {
        TScopedFault fault(FailUnder(f.Local(), TFileOperation::Remove, EACCES));
        EXPECT_FALSE(worker.TransferBackup());
        EXPECT_NE(LastTransferErrorText().find(Archive), std::string::npos)
            << LastTransferErrorText();
        EXPECT_EQ(Options.FileCountForTransfer(), 1);
        EXPECT_EQ(Options.LastTransfer(), StartTime);
        EXPECT_EQ(f.Sink.Codes(), (std::vector<int>{6, 9, 7, 4}));
        EXPECT_TRUE(worker.TransferBackup());
        EXPECT_EQ(Options.FileCountForTransfer(), 0);
    }
    f.Server.Stop();
    const std::string transcript = f.Server.Transcript();
    const std::string stor = std::string("STOR ") + Archive;
    EXPECT_EQ(transcript.find(stor), transcript.rfind(stor)) << transcript;
    EXPECT_EQ(f.Server.FilesNow().at(newer), "newer");
    EXPECT_TRUE(FileExists(f.Local()));

    Options.SetFileCountForTransfer(1);  // as the next backup run would raise it
    EXPECT_TRUE(worker.TransferBackup());
    EXPECT_FALSE(FileExists(f.Local()));
    EXPECT_EQ(Options.FileCountForTransfer(), 0);
}

// Failures before the upload is under way: nothing shown, nothing changed.
TEST(TransferBackup, ConnectionAndLoginFailuresAreSilent) {
    struct TCase {
        const char* Name;
        std::function<void(TTransferFixture&)> Arrange;
    };
    const TCase cases[] = {
        {"server down", [](TTransferFixture& f) { f.Server.Stop(); }},
        {"login refused",
         [](TTransferFixture& f) {
             f.Server.Override = [](TFakeSession& s, const std::string& verb, const std::string&) {
                 return verb == "PASS" && s.Reply("530 Login incorrect");
             };
             f.Server.Start();
         }},
        {"silent server",
         [](TTransferFixture& f) {
             TNetTimeouts quick = DefaultNetTimeouts();
             quick.Reply = 100;
             SetDefaultNetTimeouts(quick);
             f.Server.Script = [](TFakeSession& s) { s.Control.ReadAll(); };
             f.Server.Start();
         }},
        {"bad address",
         [](TTransferFixture& f) {
             Options.SetRemoteHost("127.0.0.1:ftp");
             f.Server.Start();
         }},
    };
    for (const TCase& c : cases) {
        TTransferFixture f;
        c.Arrange(f);
        TBackupThread worker;
        EXPECT_FALSE(worker.TransferBackup()) << c.Name;
        EXPECT_FALSE(worker.TransferRunning.load());
        EXPECT_TRUE(f.Sink.Codes().empty()) << c.Name;
        EXPECT_TRUE(FileExists(f.Local())) << c.Name;
        EXPECT_EQ(Options.FileCountForTransfer(), 1) << c.Name;
        EXPECT_EQ(Options.LastTransfer(), 0.0) << c.Name;
        EXPECT_NE(LastTransferErrorText(), "") << c.Name;
    }
}

TEST(TransferBackup, RefusedUploadIsReportedAndKeepsTheArchive) {
    TTransferFixture f;
    f.Server.Override = [](TFakeSession& s, const std::string& verb, const std::string&) {
        return verb == "STOR" && s.Reply("553 Not allowed");
    };
    f.Server.Start();
    TBackupThread worker;
    EXPECT_FALSE(worker.TransferBackup());
    EXPECT_EQ(f.Sink.Codes(), (std::vector<int>{6, 7, 4}));
    EXPECT_TRUE(FileExists(f.Local()));
    EXPECT_EQ(Options.FileCountForTransfer(), 1);
    EXPECT_EQ(LastTransferErrorText(), "553 Not allowed");
}

TEST(TransferBackup, RefusedPruningIsReportedAfterTheArchiveWasSent) {
    TTransferFixture f;
    Options.SetBackupCount(1);
    f.Server.Files = {{"Backup_20261201_1200_full.fbk", "1"}};
    f.Server.Override = [](TFakeSession& s, const std::string& verb, const std::string& arg) {
        return verb == "DELE" && arg == "Backup_20261201_1200_full.fbk" &&
               s.Reply("550 Permission denied");
    };
    f.Server.Start();
    TBackupThread worker;
    EXPECT_FALSE(worker.TransferBackup());
    EXPECT_EQ(f.Sink.Codes(), (std::vector<int>{6, 9, 7, 4}));
    EXPECT_FALSE(FileExists(f.Local()));
    EXPECT_EQ(Options.FileCountForTransfer(), 0);
    EXPECT_EQ(Options.LastTransfer(), StartTime);
    EXPECT_EQ(f.Server.FilesNow().at(Archive), f.Content);
}

TEST(TransferBackup, ConnectionDroppedDuringTheUpload) {
    TTransferFixture f;
    f.Dir.WriteFile(std::string("Temp/") + Archive, std::string(16 << 20, 'b'));
    f.Server.Override = [](TFakeSession& s, const std::string& verb, const std::string&) {
        if (verb != "STOR") {
            return false;
        }
        s.Reply("150 Go");
        test::TFakeSocket data = s.OpenData();
        char chunk[65536];
        [[maybe_unused]] ssize_t got = ::recv(data.Fd, chunk, sizeof chunk, 0);
        linger hard{1, 0};
        ::setsockopt(data.Fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        data.Close();
        s.Control.Close();
        return true;
    };
    f.Server.Start();
    TBackupThread worker;
    EXPECT_FALSE(worker.TransferBackup());
    EXPECT_EQ(f.Sink.Codes(), (std::vector<int>{6, 9, 7, 4}));
    EXPECT_EQ(f.Sink.Percents().back(), 100);
    EXPECT_TRUE(FileExists(f.Local()));
    EXPECT_EQ(Options.FileCountForTransfer(), 1);
    EXPECT_EQ(Options.LastTransfer(), 0.0);
}

TEST(TransferBackup, TerminateRequestDuringTheUploadEndsSilently) {
    TTransferFixture f;
    f.Dir.WriteFile(std::string("Temp/") + Archive, std::string(32 << 20, 'b'));
    TBackupThread worker;
    f.Server.Override = [&worker](TFakeSession& s, const std::string& verb, const std::string&) {
        if (verb != "STOR") {
            return false;
        }
        s.Reply("150 Go");
        test::TFakeSocket data = s.OpenData();
        char chunk[65536];
        [[maybe_unused]] ssize_t got = ::recv(data.Fd, chunk, sizeof chunk, 0);
        worker.Terminate();
        data.ReadAll();
        s.Reply("226 Done");
        return true;
    };
    f.Server.Start();
    EXPECT_FALSE(worker.TransferBackup());
    f.Server.Stop();  // its thread is done with the worker before the worker goes
    EXPECT_FALSE(worker.TransferRunning.load());
    EXPECT_EQ(f.Sink.Codes(), (std::vector<int>{6, 9}));
    EXPECT_EQ(f.Sink.Percents().back(), 100);
    EXPECT_TRUE(FileExists(f.Local()));
    EXPECT_EQ(Options.FileCountForTransfer(), 1);
    EXPECT_EQ(Options.LastTransfer(), 0.0);
    EXPECT_EQ(LastTransferErrorText(), "");
}

TEST(TransferBackup, HostileListingNamesAreNeverDeleted) {
    TTransferFixture f;
    Options.SetBackupCount(1);
    f.Server.Files = {{"Backup_20261201_1200_full.fbk", "1"}};
    f.Server.Override = [](TFakeSession& s, const std::string& verb, const std::string&) {
        if (verb != "NLST") {
            return false;
        }
        s.Reply("150 Listing");
        s.OpenData().Send(
            "../x.fbk\r\n/etc/y.fbk\r\nsub/"
            "z.fbk\r\nC:\\w.fbk\r\n.\r\n..\r\n.fbk\r\nbad\x01.fbk\r\n" +
            std::string(Archive) + "\r\nBackup_20261201_1200_full.fbk\r\n");
        s.Reply("226 Done");
        return true;
    };
    f.Server.Start();
    TBackupThread worker;
    EXPECT_TRUE(worker.TransferBackup());
    f.Server.Stop();
    const std::string transcript = f.Server.Transcript();
    const std::string tail = transcript.substr(transcript.find("nlst"));
    EXPECT_EQ(tail, "nlst *.fbk\r\nDELE Backup_20261201_1200_full.fbk\r\n");
}

class TransferModeTest : public testing::TestWithParam<bool> {};

TEST_P(TransferModeTest, ServerRefusingWildcardsIsStillPruned) {
    TTransferFixture f;
    Options.SetPassiveMode(GetParam() ? 1 : 0);
    Options.SetBackupCount(1);
    f.Server.RefuseWildcards = true;
    f.Server.Files = {{"Backup_20261201_1200_full.fbk", "1"}, {"readme", "r"}};
    f.Server.Start();
    TBackupThread worker;
    EXPECT_TRUE(worker.TransferBackup());
    f.Server.Stop();
    const auto files = f.Server.FilesNow();
    EXPECT_EQ(files.size(), 2u);
    EXPECT_EQ(files.count(Archive), 1u);
    EXPECT_EQ(files.count("readme"), 1u);
    EXPECT_EQ(f.Server.Transcript().find("PASV") != std::string::npos, GetParam());
    EXPECT_EQ(f.Server.Transcript().find("PORT") != std::string::npos, !GetParam());
}

INSTANTIATE_TEST_SUITE_P(Modes, TransferModeTest, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

TEST(TransferBackup, ZeroLengthArchiveReportsOnlyZeroAndHundred) {
    TTransferFixture f;
    f.Dir.WriteFile(std::string("Temp/") + Archive, "");
    f.Server.Start();
    TBackupThread worker;
    EXPECT_TRUE(worker.TransferBackup());
    EXPECT_EQ(f.Sink.Percents(), (std::vector<int>{0, 100}));
    EXPECT_EQ(f.Server.FilesNow().at(Archive), "");
}

TEST(TransferBackup, TerminateRequestBeforeTheCallDoesNothing) {
    TTransferFixture f;
    f.Server.Start();
    TBackupThread worker;
    worker.Terminate();
    EXPECT_FALSE(worker.TransferBackup());
    f.Server.Stop();
    EXPECT_EQ(f.Server.Sessions(), 0);
    EXPECT_TRUE(f.Sink.Codes().empty());
    EXPECT_TRUE(FileExists(f.Local()));
}

}  // namespace
}  // namespace sejfko
