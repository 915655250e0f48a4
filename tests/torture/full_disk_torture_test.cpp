// A full disk, on a small tmpfs mounted by the test (root only; skipped with a message where it
// cannot be mounted): a run into it, a restore into it and the downloads of a restore from the
// server fail with a clear Czech text, leave nothing torn or half-written behind, and count
// nothing as saved that is not. Once there is room again, the next run succeeds.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/backup_job.hpp"
#include "archive/zip_reader.hpp"
#include "backup/backup_thread.hpp"
#include "backup/worker_harness.hpp"
#include "cli/cli_runner.hpp"
#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/file_system.hpp"
#include "restore/py_ftp_server.hpp"
#include "support/temp_dir.hpp"
#include "support/tree_snapshot.hpp"

namespace sejfko::test {
namespace {

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data) {
        c = static_cast<char>(random());
    }
    return data;
}

class FullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        Small = Dir.MakeDir("small");
        if (::mount("tmpfs", Small.c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0) {
            GTEST_SKIP() << "a tmpfs cannot be mounted here (" << std::strerror(errno)
                         << "): the full-disk cases need root";
        }
        Mounted = true;
        SetZipEngineDirectory(SEJFKO_ZIPENGINE_DIR);
        Options.Load(Dir.MakeDir("config"));
        Options.SetFileChoose(Dir.WriteFile("selection.txt", Dir / "src" + "\n"));
        Options.SetBackupKind(bkIncWeek);
        Options.SetCompletelyWeekBackupDay(7);
        Options.SetInTime(EncodeTime(20, 0, 0));
        Dir.WriteFile("src/a.txt", "small file");
        // Incompressible and larger than the volume, but under twice its size, so that the
        // job's own space check lets it start and the disk fills while it writes.
        Dir.WriteFile("src/big.bin", RandomBytes(1536u << 10, 1));
    }
    void TearDown() override {
        if (Mounted) {
            ::umount2(Small.c_str(), MNT_DETACH);
        }
        SetZipEngineDirectory("");
    }

    // One pass of the worker that runs a backup at `moment`.
    void RunAt(TDateTime moment) {
        Clock.Set(moment);
        Thread.NextRun.store(moment - 1.0 / 86400);
        ASSERT_TRUE(Thread.Step());
    }

    TTempDir Dir;
    std::string Small;
    bool Mounted = false;
    TManualClock Clock{EncodeDateTime(2025, 1, 6, 20, 0, 5)};
    TScopedClock ClockGuard{Clock};
    TRecordingSink Sink;
    TScopedMessageSink SinkGuard{Sink};
    TSteppedThread Thread;
};

TEST_F(FullDisk, ARunIntoAFullDiskFailsClearlyAndCountsNothing) {
    for (const bool remote : {false, true}) {
        Options.SetSavingKind(remote ? skRemote : skLocal);
        Options.SetLocalDirectory(Small);
        Options.SetLocalTemporaryDirectory(Small);
        Options.SetFileCountForTransfer(0);
        RunAt(EncodeDateTime(2025, 1, 6, 20, remote ? 10 : 0, 5));
        const std::string message = LastMessage();
        EXPECT_EQ(message.rfind("Chyba při zálohování.\n\r(", 0), 0u) << message;
        EXPECT_NE(message.find("na disku není dost místa"), std::string::npos) << message;
        EXPECT_EQ(Options.LastRun(), NeverMarker);
        EXPECT_EQ(Options.FileCountForTransfer(), 0);
        EXPECT_FALSE(FileExists(Options.Directory() + "/IncSelect.ini"));
        EXPECT_EQ(EntryNames(Small), std::vector<std::string>{}) << "remote " << remote;
        EXPECT_EQ(Sink.Exceptions(), std::vector<std::string>{});
    }
    // With room, the next run succeeds.
    Options.SetSavingKind(skLocal);
    Options.SetLocalDirectory(Dir / "out");
    RunAt(EncodeDateTime(2025, 1, 6, 21, 0, 5));
    EXPECT_EQ(LastMessage(), "Záloha byla úspěšně dokončena.");
    EXPECT_EQ(EntryNames(Dir / "out").size(), 1u);
}

TEST_F(FullDisk, ASelectionOverTwiceTheFreeSpaceIsRefusedBeforeAnythingIsWritten) {
    Dir.WriteFile("src/huge.bin", RandomBytes(3u << 20, 2));
    Options.SetSavingKind(skLocal);
    Options.SetLocalDirectory(Small);
    RunAt(EncodeDateTime(2025, 1, 6, 20, 0, 5));
    const std::string message = LastMessage();
    EXPECT_EQ(message.rfind("Není dostatek místa pro dočasné soubory na disku '", 0), 0u)
        << message;
    EXPECT_NE(message.find("! Uvolněte alespoň "), std::string::npos) << message;
    EXPECT_EQ(Options.LastRun(), NeverMarker);
    EXPECT_EQ(EntryNames(Small), std::vector<std::string>{});
}

TEST_F(FullDisk, ARestoreIntoAFullDiskStopsAndLeavesOnlyWholeFiles) {
    Options.SetSavingKind(skLocal);
    Options.SetLocalDirectory(Dir / "out");
    RunAt(EncodeDateTime(2025, 1, 6, 20, 0, 5));
    ASSERT_EQ(LastMessage(), "Záloha byla úspěšně dokončena.");
    const TCliRun run = RunCliWith({"restore", "--to", Small + "/r", Dir / "out"});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("na disku není dost místa"), std::string::npos) << run.Err << run.Out;
    const TSnapshot source = TakeSnapshot(Dir / "src");
    for (const auto& [name, file] : TakeSnapshot(Small + "/r" + Dir / "src")) {
        ASSERT_EQ(source.count(name), 1u) << "left behind: " << Printable(name);
        EXPECT_EQ(file.Content, source.at(name).Content) << name;
    }
}

TEST_F(FullDisk, DownloadsForARestoreIntoAFullDiskFailClearlyAndGo) {
    Options.SetSavingKind(skLocal);
    Options.SetLocalDirectory(Dir.MakeDir("ftp"));
    RunAt(EncodeDateTime(2025, 1, 6, 20, 0, 5));
    ASSERT_EQ(LastMessage(), "Záloha byla úspěšně dokončena.");
    TPyFtpServer server(Dir / "ftp", "zaloha", "heslo");
    ASSERT_NE(server.Port, 0) << "pyftpdlib did not start";
    Options.SetRemoteHost("127.0.0.1:" + std::to_string(server.Port));
    Options.SetRemoteUser("zaloha");
    Options.SetRemotePassword("heslo");
    Options.SetLocalTemporaryDirectory(Small);
    const TCliRun run = RunCliWith({"--config-dir", Options.Directory(), "restore", "--to",
                                    Dir / "restored", "--from-server"});
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("na disku není dost místa"), std::string::npos) << run.Err;
    EXPECT_EQ(EntryNames(Small), std::vector<std::string>{});
    EXPECT_FALSE(DirectoryExists(Dir / "restored" + Dir / "src"));
}

}  // namespace
}  // namespace sejfko::test
