#include "transfer/transfer_backup.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <regex>
#include <thread>

#include "backup/backup_thread.hpp"
#include "backup/run_history.hpp"
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
                   "DELE \\.Backup_20261208_1200_full\\.fbk\\.part\r\n" + port +
                   "STOR \\.Backup_20261208_1200_full\\.fbk\\.part\r\n" +
                   "DELE Backup_20261208_1200_full.fbk\r\n" +
                   "RNFR \\.Backup_20261208_1200_full\\.fbk\\.part\r\n" +
                   "RNTO Backup_20261208_1200_full.fbk\r\n" + port + "nlst \\*.fbk\r\n" +
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
    const std::vector<THistoryRecord> history = ReadHistory(f.Dir.Path());
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].Kind, HistoryTransfer);
    EXPECT_EQ(history[0].Archive, Archive);
    EXPECT_TRUE(history[0].Succeeded);
    EXPECT_EQ(history[0].BytesWritten, f.Content.size());
    EXPECT_EQ(history[0].Start, StartTime);
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
    EXPECT_LT(f.Server.Transcript().find("RNTO Backup_20261207_1200.fbk"),
              f.Server.Transcript().find(std::string("RNTO ") + Archive));
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
    const std::string stor = std::string("RNTO ") + Archive;
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
        EXPECT_TRUE(ReadHistory(f.Dir.Path()).empty()) << c.Name;
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
    const std::vector<THistoryRecord> history = ReadHistory(f.Dir.Path());
    ASSERT_EQ(history.size(), 1u);
    EXPECT_FALSE(history[0].Succeeded);
    EXPECT_EQ(history[0].Result, "553 Not allowed");
}

// An upload cut short leaves nothing under the archive's name, the next one clears what it left,
// and a server that cannot rename still gets the archive.
TEST(TransferBackup, OnlyAWholeArchiveTakesItsName) {
    TTransferFixture f;
    const std::string partial = std::string(".") + Archive + ".part";
    f.Server.Files = {{partial, "torn"}};
    std::atomic<bool> refuseRename = true;
    f.Server.Override = [&](TFakeSession& s, const std::string& verb, const std::string&) {
        return verb == "RNFR" && refuseRename && s.Reply("502 Command not implemented");
    };
    f.Server.Start();
    TBackupThread worker;
    EXPECT_TRUE(worker.TransferBackup());
    auto files = f.Server.FilesNow();
    EXPECT_EQ(files.at(Archive), f.Content);
    EXPECT_EQ(files.count(partial), 0u);

    refuseRename = false;
    f.Dir.WriteFile(std::string("Temp/") + Archive, "again");
    Options.SetFileCountForTransfer(1);
    {
        std::lock_guard lock(f.Server.Mutex);
        f.Server.Files[partial] = "torn";
    }
    EXPECT_TRUE(worker.TransferBackup());
    f.Server.Stop();
    files = f.Server.FilesNow();
    EXPECT_EQ(files.at(Archive), "again");
    EXPECT_EQ(files.count(partial), 0u);
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

// The other end of the connected socket `fd`, when this process holds it: the descriptor whose
// local and peer addresses are `fd`'s peer and local ones; -1 when there is none.
int PeerDescriptor(int fd) {
    sockaddr_in local{};
    sockaddr_in peer{};
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    length = sizeof peer;
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length);
    for (const std::string& name : test::EntryNames("/proc/self/fd")) {
        const int other = std::atoi(name.c_str());
        sockaddr_in otherLocal{};
        sockaddr_in otherPeer{};
        socklen_t otherLength = sizeof otherLocal;
        if (other == fd ||
            ::getsockname(other, reinterpret_cast<sockaddr*>(&otherLocal), &otherLength) != 0 ||
            otherLocal.sin_family != AF_INET) {
            continue;
        }
        otherLength = sizeof otherPeer;
        if (::getpeername(other, reinterpret_cast<sockaddr*>(&otherPeer), &otherLength) == 0 &&
            otherLocal.sin_port == peer.sin_port && otherPeer.sin_port == local.sin_port &&
            otherLocal.sin_addr.s_addr == peer.sin_addr.s_addr) {
            return other;
        }
    }
    return -1;
}

// The scheduler state of thread `tid` of this process ('R' running, 'S' asleep, ...).
char ThreadState(pid_t tid) {
    const std::string stat =
        test::ReadWholeFile("/proc/self/task/" + std::to_string(tid) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? '?' : stat[close + 2];
}

// Returns once the client's end of the data connection `fd` takes no more data (this end stopped
// reading) and the client's thread `tid` sleeps, i.e. waits for room to send; within a generous
// bound.
void WaitUntilTheClientWaitsToSend(int fd, pid_t tid) {
    const int client = PeerDescriptor(fd);
    ASSERT_GE(client, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        pollfd entry{client, POLLOUT, 0};
        const bool writable = ::poll(&entry, 1, 0) == 1;
        if ((!writable && ThreadState(tid) == 'S') ||
            std::chrono::steady_clock::now() >= deadline) {
            return;
        }
        std::this_thread::yield();
    }
}

// A terminate request ends whatever network wait the transfer is in, silently, leaving the archive
// and the counter as they were. The time limits are long, so only a wait that is woken by the
// request ends in time; 2 s is the bound, with a generous margin.
TEST(TransferBackup, TerminateRequestEndsEveryNetworkWaitAtOnce) {
    using TStop = std::function<void()>;
    const pid_t client = ::gettid();  // the thread that runs the transfer
    // Answers STOR with 150, then does `then` (which calls `stop` once the client is committed
    // to its wait) and holds the control connection until the client closes it.
    auto onStore = [](TTransferFixture& f, const TStop& stop,
                      std::function<void(TFakeSession&, const TStop&)> then) {
        f.Server.Override = [stop, then](TFakeSession& s, const std::string& verb,
                                         const std::string&) {
            if (verb != "STOR") {
                return false;
            }
            s.Reply("150 Go");
            then(s, stop);
            s.Control.ReadAll();
            return true;
        };
    };
    struct TCase {
        const char* Name;
        std::function<void(TTransferFixture&, const TStop&)> Arrange;
    };
    const TCase cases[] = {
        {"server that never greets",
         [](TTransferFixture& f, const TStop& stop) {
             f.Server.Script = [stop](TFakeSession& s) {
                 stop();
                 s.Control.ReadAll();
             };
         }},
        {"server that never opens the data connection",
         [&](TTransferFixture& f, const TStop& stop) {
             onStore(f, stop, [](TFakeSession&, const TStop& go) { go(); });
         }},
        {"server that stops reading mid-upload",
         [&](TTransferFixture& f, const TStop& stop) {
             onStore(f, stop, [client](TFakeSession& s, const TStop& go) {
                 s.DataReceiveBuffer = 4096;  // a window that fills at once
                 test::TFakeSocket data = s.OpenData();
                 char chunk[65536];
                 [[maybe_unused]] ssize_t got = ::recv(data.Fd, chunk, sizeof chunk, 0);
                 // Never reads again: once the client's end takes no more, the client is stuck
                 // in (or bound for) a send that only the request can end.
                 WaitUntilTheClientWaitsToSend(data.Fd, client);
                 go();
                 s.Control.ReadAll();  // the data connection stays open meanwhile
             });
         }},
        {"server that never sends the completion reply",
         [&](TTransferFixture& f, const TStop& stop) {
             onStore(f, stop, [](TFakeSession& s, const TStop& go) {
                 s.OpenData().ReadAll();
                 go();
             });
         }},
    };
    for (const TCase& c : cases) {
        TTransferFixture f;
        TNetTimeouts patient;
        patient.Connect = patient.Reply = patient.Accept = patient.Data = 30000;
        patient.Completion = 30000;
        SetDefaultNetTimeouts(patient);
        f.Dir.WriteFile(std::string("Temp/") + Archive, std::string(32 << 20, 'b'));
        TBackupThread worker;
        std::atomic<bool> stopped{false};
        std::chrono::steady_clock::time_point stoppedAt;
        const TStop stop = [&] {
            stoppedAt = std::chrono::steady_clock::now();
            stopped.store(true);
            worker.Terminate();
        };
        c.Arrange(f, stop);
        f.Server.Start();
        EXPECT_FALSE(worker.TransferBackup()) << c.Name;
        const auto endedAt = std::chrono::steady_clock::now();
        f.Server.Stop();
        ASSERT_TRUE(stopped.load()) << c.Name;
        EXPECT_LT(endedAt - stoppedAt, std::chrono::seconds(2)) << c.Name;
        EXPECT_FALSE(worker.TransferRunning.load()) << c.Name;
        const std::vector<int> codes = f.Sink.Codes();
        EXPECT_EQ(std::count(codes.begin(), codes.end(), bsTransferFailed), 0) << c.Name;
        EXPECT_EQ(std::count(codes.begin(), codes.end(), bsTransferDone), 0) << c.Name;
        EXPECT_TRUE(FileExists(f.Local())) << c.Name;
        EXPECT_EQ(Options.FileCountForTransfer(), 1) << c.Name;
        EXPECT_EQ(Options.LastTransfer(), 0.0) << c.Name;
        EXPECT_EQ(LastTransferErrorText(), "") << c.Name;
    }
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
