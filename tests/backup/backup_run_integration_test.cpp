// Whole backup runs through the worker's loop, over simulated days: the clock is a manual one,
// file times are set explicitly (stamps have 2-second resolution), and the archives are judged
// by unzip, which no one here wrote.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "archive/backup_job.hpp"
#include "backup/backup_run_fixture.hpp"
#include "backup/backup_thread.hpp"
#include "backup/file_list.hpp"
#include "backup/update_batch.hpp"
#include "backup/worker_harness.hpp"
#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/data_directory.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "support/local_time.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using namespace test;

TEST_F(BackupRunTest, CompleteKindArchivesEverythingAndDeletesTheStateEachRun) {
    Options.SetBackupKind(bkFull);
    const std::string a = Source("a.txt", "alpha");
    const std::string b = Source("sub/b.txt", "beta");
    for (int day : {8, 9}) {
        Dir.WriteFile("data/IncSelect.ini", "left over\r\n1\r\n2\r\n");
        RunOn(day);
        EXPECT_FALSE(FileExists(Dir / "data/IncSelect.ini")) << day;
        EXPECT_EQ(ArchiveEntries(Dir / "out/" + ArchiveOf(day, true)),
                  (Names{Stored(a), Stored(b)}))
            << LastMessage();
    }
    EXPECT_EQ(Archives(), (Names{ArchiveOf(8, true), ArchiveOf(9, true)}));
    EXPECT_EQ(Options.LastRun(), EncodeDateTime(2024, 1, 9, 20, 0, 5));
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsSavingSelection), 0);
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsRunFinished), 2);
}

TEST_F(BackupRunTest, WeeklyChainArchivesEditedAndAddedFilesAndListsTheDeletedOne) {
    Options.SetBackupKind(bkIncWeek);
    Options.SetCompletelyWeekBackupDay(3);  // Wednesday
    const std::string a = Source("a.txt", "first");
    const std::string b = Source("b's file.txt", "to be deleted");
    const std::string d = Source("d.txt", "touched only");
    RunOn(8);  // Monday: nothing recorded yet, so complete
    EXPECT_EQ(ArchiveEntries(Dir / "out/" + ArchiveOf(8, true)),
              (Names{Stored(a), Stored(b), Stored(d)}));
    EXPECT_EQ(StateNames(), (Names{a, b, d}));
    int32_t mondayStampOfD = 0;
    for (const TFileItem& item : State()) {
        mondayStampOfD = item.Name == d ? item.Stamp : mondayStampOfD;
    }

    Source("a.txt", "edited", 9);
    const std::string c = Source("c.txt", "added", 9);
    ASSERT_TRUE(DeleteFile(b));
    SetStamp(d, 1, 9, 12);
    RunOn(9);  // Tuesday: incremental
    EXPECT_EQ(ArchiveEntries(Dir / "out/" + ArchiveOf(9, false)),
              (Names{UpdateBatchName, Stored(a), Stored(c)}));
    EXPECT_EQ(Capture("unzip -p " + Quote(Dir / "out/" + ArchiveOf(9, false)) + " " +
                      Quote(UpdateBatchName)),
              "rm -f -- '" + Stored(Dir / "src/b'\\''s file.txt") + "'\n");
    EXPECT_EQ(StateNames(), (Names{a, c, d}));
    for (const TFileItem& item : State()) {
        if (item.Name == d) {
            EXPECT_EQ(item.Stamp, mondayStampOfD);  // touched only: the old stamp stays
        }
    }
    EXPECT_EQ(Options.LastRun(), EncodeDateTime(2024, 1, 9, 20, 0, 5));

    RunOn(10);  // Wednesday: the complete day
    EXPECT_EQ(ArchiveEntries(Dir / "out/" + ArchiveOf(10, true)),
              (Names{Stored(a), Stored(c), Stored(d)}));
    EXPECT_EQ(Sink.Exceptions(), Names{});
}

TEST_F(BackupRunTest, TouchedFileKeepsItsOldStampInTheState) {
    Options.SetBackupKind(bkIncWeek);
    const std::string d = Source("d.txt", "same content", 2);
    RunOn(8);
    ASSERT_EQ(State().size(), 1u);
    const int32_t stored = State()[0].Stamp;
    SetStamp(d, 1, 9, 12);
    Source("other.txt", "makes an archive", 9);
    RunOn(9);
    EXPECT_EQ(ArchiveEntries(Dir / "out/" + ArchiveOf(9, false)),
              Names{Stored(Dir / "src/other.txt")});
    for (const TFileItem& item : State()) {
        if (item.Name == d) {
            EXPECT_EQ(item.Stamp, stored);
        }
    }
}

// Nothing changed is a backup: the state saved is the tree at the run's start, so "Last run"
// records it and the chain goes on incrementally.
TEST_F(BackupRunTest, RunWithNothingChangedMakesNoArchiveButCountsAsABackup) {
    Options.SetBackupKind(bkIncWeek);
    const std::string a = Source("a.txt", "alpha");
    RunOn(8);
    const std::string stateAfterMonday = ReadWholeFile(Dir / "data/IncSelect.ini");
    ASSERT_FALSE(stateAfterMonday.empty());
    RunOn(9);
    EXPECT_EQ(Archives(), Names{ArchiveOf(8, true)});
    EXPECT_EQ(ReadWholeFile(Dir / "data/IncSelect.ini"), stateAfterMonday);
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsSavingSelection), 2);
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsRunFinished), 2);
    EXPECT_EQ(Options.LastRun(), EncodeDateTime(2024, 1, 9, 20, 0, 5));
    EXPECT_TRUE(Thread->LastRunChangedNothing());
    EXPECT_NEAR(Thread->NextRun.load(), EncodeDateTime(2024, 1, 10, 20, 0, 0), 1e-6);
    Source("a.txt", "changed", 10);
    RunOn(10);
    EXPECT_EQ(Archives(), (Names{ArchiveOf(8, true), ArchiveOf(10, false)}));
    EXPECT_FALSE(Thread->LastRunChangedNothing());
}

TEST_F(BackupRunTest, FileUnreadableForTheStateIsArchivedAgainByTheNextRun) {
    Options.SetBackupKind(bkIncWeek);
    Source("a.txt", "alpha");
    const std::string locked = Source("locked.txt", "cannot be read for its checksum");
    {
        TScopedFault fault(FailUnder(locked, TFileOperation::OpenRead, EACCES));
        RunOn(8);
    }
    EXPECT_EQ(StateNames(), Names{Dir / "src/a.txt"});
    RunOn(9);
    EXPECT_EQ(ArchiveEntries(Dir / "out/" + ArchiveOf(9, false)), Names{Stored(locked)});
    EXPECT_EQ(StateNames(), (Names{Dir / "src/a.txt", locked}));
    RunOn(10);
    EXPECT_EQ(Archives().size(), 2u);
}

TEST_F(BackupRunTest, FileTheArchiveJobSkippedIsLeftOutOfTheStateAndArchivedNextRun) {
    Options.SetBackupKind(bkIncWeek);
    const std::string big = Source("a.bin", RandomBytes(1 << 20));  // read first
    const std::string skipped = Source("b.txt", "away while archiving");
    Dir.MakeDir("hold");
    const std::string held = Dir / "hold/b.txt";
    bool moved = false;
    Sink.OnPost = [&](const TRecordingSink::TPost& post) {
        if (!moved && post.Message == WM_BACKUP_STATUS && post.WParam == bsArchiveProgress &&
            post.LParam > 0) {
            moved = ::rename(skipped.c_str(), held.c_str()) == 0;
        }
    };
    RunOn(8);
    Sink.OnPost = nullptr;
    ASSERT_TRUE(moved);
    const Names skippedNames = LastSkippedFiles();
    ASSERT_NE(std::find(skippedNames.begin(), skippedNames.end(), skipped), skippedNames.end());
    EXPECT_EQ(ArchiveEntries(Dir / "out/" + ArchiveOf(8, true)), Names{Stored(big)});
    EXPECT_EQ(StateNames(), Names{big});
    // Back unchanged, stamp included: only its absence from the state gets it archived.
    ASSERT_EQ(::rename(held.c_str(), skipped.c_str()), 0);
    RunOn(9);
    EXPECT_EQ(ArchiveEntries(Dir / "out/" + ArchiveOf(9, false)), Names{Stored(skipped)});
    EXPECT_EQ(StateNames(), (Names{big, skipped}));
}

TEST_F(BackupRunTest, CorruptStateLeadsToACompleteBackup) {
    Options.SetBackupKind(bkIncWeek);
    const std::string a = Source("a.txt", "alpha");
    RunOn(8);
    for (const char* corrupt :
         {"x\r\nnot a number\r\n1\r\n", "only\r\ntwo\r\n", "x\r\n1\r\n99999999999\r\n"}) {
        Dir.WriteFile("data/IncSelect.ini", corrupt);
        Source("a.txt", std::string("changed ") + corrupt, 9);
        Clock.Set(Clock.Now() + 1);
        const int day = DecodeDate(Clock.Now()).Day;
        RunOn(day);
        EXPECT_EQ(ArchiveEntries(Dir / "out/" + ArchiveOf(day, true)), Names{Stored(a)});
        EXPECT_EQ(StateNames(), Names{a});
    }
    EXPECT_EQ(Sink.Exceptions(), Names{});
}

TEST_F(BackupRunTest, DestinationThatCannotBeCreatedGivesTheJobsFailureText) {
    Options.SetBackupKind(bkIncWeek);
    Source("a.txt", "alpha");
    Dir.WriteFile("blocker", "a file where a directory should be");
    Options.SetLocalDirectory(Dir / "blocker/out");
    RunOn(8);
    EXPECT_EQ(LastMessage().rfind("Chyba", 0), 0u) << LastMessage();
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsRunFinished), 1);
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsSavingSelection), 0);
    EXPECT_EQ(Options.LastRun(), NeverMarker);
    EXPECT_FALSE(FileExists(Dir / "data/IncSelect.ini"));
    EXPECT_EQ(Sink.Exceptions(), Names{});
}

// A selection with control bytes, bytes that are not UTF-8, a 1 MB line and entries that do
// not exist, and a directory that the scan cannot list: what exists is backed up, nothing
// fails, and the result text names what does not exist.
TEST_F(BackupRunTest, AwkwardSelectionStillBacksUpWhatExists) {
    Options.SetBackupKind(bkIncWeek);
    const std::string a = Source("a.txt", "alpha");
    const std::string c = Source("closed/c.txt", "in a directory the scan cannot list");
    std::string selection = Dir / "src" + "\r\n" + Dir / "missing" + "\n";
    const char awkward[] = "\x01\x02 /nul\xff\xfe\n";
    selection += std::string(awkward, sizeof awkward - 1);
    selection += std::string(1 << 20, 'x') + "\n";
    Dir.WriteFile("data/selection.txt", selection);
    {
        TScopedFault fault(FailUnder(Dir / "src/closed", TFileOperation::ListDirectory, EACCES));
        RunOn(8);
    }
    EXPECT_EQ(Sink.Exceptions(), Names{});
    // The complete archive is the engine's own walk; the state only holds what the scan saw.
    EXPECT_EQ(ArchiveEntries(Dir / "out/" + ArchiveOf(8, true)), (Names{Stored(a), Stored(c)}))
        << LastMessage();
    EXPECT_EQ(StateNames(), Names{a});
    EXPECT_EQ(LastMessage(),
              "Záloha byla úspěšně dokončena.\nPoložka výběru neexistuje: " + Dir / "missing" +
                  "\nPoložka výběru neexistuje: /nul\xff\xfe"
                  "\nPoložka výběru neexistuje: " +
                  std::string(300, 'x') + "…");
    RunOn(9);
    EXPECT_EQ(ArchiveEntries(Dir / "out/" + ArchiveOf(9, false)), Names{Stored(c)});
    EXPECT_EQ(StateNames(), (Names{a, c}));
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsRunFinished), 2);
}

TEST_F(BackupRunTest, SelectionLineWithNulFailsTheRunWithoutAnArchive) {
    const std::string selection =
        Dir / "src" + "\r\n" + Dir / "src/a.txt" + std::string("\0junk\r\n", 7);
    Dir.WriteFile("data/selection.txt", selection);
    for (TBackupKind kind : {bkFull, bkIncWeek}) {
        Options.SetBackupKind(kind);
        Source("a.txt", "alpha");
        Sink.Clear();
        RunOn(kind == bkFull ? 8 : 9);
        EXPECT_EQ(LastMessage(), "Soubor s výběrem '" + Dir / "data/selection.txt" +
                                     "' obsahuje na řádku 2 nulový znak (NUL), záloha nebyla "
                                     "provedena. Uložte ho jako prostý text.");
        EXPECT_FALSE(DirectoryExists(Dir / "out"));
        EXPECT_EQ(Options.LastRun(), NeverMarker);
        EXPECT_FALSE(FileExists(Dir / "data/IncSelect.ini"));
        EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsRunFinished), 1);
        EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsSelectionRead), 0);
        EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsArchiveProgress), 0);
        EXPECT_EQ(Sink.Exceptions(), Names{});
    }
}

TEST_F(BackupRunTest, SelectionSavedAsUtf16IsBackedUp) {
    Options.SetBackupKind(bkFull);
    const std::string a = Source("účty/a.txt", "alpha");
    // UTF-16LE with its mark, one line only: read as bytes it names no file (more lines would
    // each read as "/"). The test directory's path is ASCII; "účty" is U+00FA U+010D t y.
    std::string selection = "\xFF\xFE";
    for (const char c : Dir / "src/") {
        selection += c;
        selection += '\0';
    }
    selection += std::string("\xFA\0\x0D\x01t\0y\0", 8);
    Dir.WriteFile("data/selection.txt", selection);
    RunOn(8);
    EXPECT_EQ(ArchiveEntries(Dir / "out/" + ArchiveOf(8, true)), Names{Stored(a)}) << LastMessage();
}

TEST_F(BackupRunTest, ExclusionWrittenRightAfterTheSeparatorIsKeptAndAMisspeltOneIsReported) {
    Options.SetBackupKind(bkFull);
    const std::string a = Source("a.txt", "alpha");
    Source("Temp/t.txt", "left out");
    const std::string old = Source("old/o.txt", "kept, its exclusion is misspelt");
    Dir.WriteFile("data/selection.txt",
                  Dir / "src/\n" + Dir / "src/Temp//Exclude\n" + Dir / "src/old/Exclude\n");
    RunOn(8);
    EXPECT_EQ(ArchiveEntries(Dir / "out/" + ArchiveOf(8, true)), (Names{Stored(a), Stored(old)}));
    EXPECT_EQ(LastMessage(), "Záloha byla úspěšně dokončena.\nPoložka výběru neexistuje: " +
                                 Dir / "src/old/Exclude");
}

TEST_F(BackupRunTest, NoDestinationSetIsShownOncePerSlot) {
    Options.SetBackupKind(bkFull);
    Source("a.txt", "alpha");
    Options.SetLocalDirectory("");
    RunOn(8);
    EXPECT_EQ(Sink.Exceptions(), Names{"Není zadána složka pro ukládání záloh."});
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsRunFinished), 0);
    EXPECT_NEAR(Thread->NextRun.load(), EncodeDateTime(2024, 1, 9, 20, 0, 0), 1e-6);
    ASSERT_TRUE(Thread->Step(2));
    EXPECT_EQ(Sink.Exceptions().size(), 1u);
}

TEST_F(BackupRunTest, DestinationWithADotInItsNameIsADirectory) {
    Options.SetBackupKind(bkFull);
    Source("a.txt", "alpha");
    Options.SetLocalDirectory(Dir / ".zalohy");
    RunOn(8);
    EXPECT_EQ(ListArchiveNamesIn(Dir / ".zalohy"), Names{ArchiveOf(8, true)}) << LastMessage();
}

// An archive that has left its directory (sent to the server) still holds its name: a second
// run in the same minute, or one after the clock was set back, is named later, so it can never
// replace the earlier archive on the server.
TEST_F(BackupRunTest, ArchiveNamesAreNeverReusedWhereverTheEarlierArchivesWent) {
    Options.SetBackupKind(bkIncWeek);
    Options.SetSavingKind(skRemote);
    Options.SetLocalTemporaryDirectory(Dir / "outbox");
    Source("a.txt", "alpha");
    const auto sendAll = [&] {
        for (const std::string& name : ListArchiveNamesIn(Dir / "outbox")) {
            ASSERT_TRUE(DeleteFile(Dir / "outbox/" + name));
        }
    };
    RunOn(8);
    ASSERT_EQ(ListArchiveNamesIn(Dir / "outbox"), Names{ArchiveOf(8, true)});
    sendAll();
    Source("a.txt", "beta", 8);
    RunNowAt(EncodeDateTime(2024, 1, 8, 20, 0, 40));
    EXPECT_EQ(ListArchiveNamesIn(Dir / "outbox"), Names{"Backup_20240108_2001.fbk"});
    sendAll();
    Source("a.txt", "gamma", 2);
    RunNowAt(EncodeDateTime(2024, 1, 1, 20, 0, 5));  // the clock set back by a week
    EXPECT_EQ(ListArchiveNamesIn(Dir / "outbox"), Names{"Backup_20240108_2002.fbk"});
    EXPECT_EQ(Options.FileCountForTransfer(), 3);
}

TEST_F(BackupRunTest, RemoteKindLeavesTheArchiveForTransferAndCountsIt) {
    Options.SetBackupKind(bkFull);
    Options.SetSavingKind(skRemote);
    Options.SetLocalTemporaryDirectory(Dir / "outbox");
    Options.SetBackupCount(1);
    Source("a.txt", "alpha");
    RunOn(8);
    RunOn(9);
    EXPECT_EQ(ListArchiveNamesIn(Dir / "outbox"), (Names{ArchiveOf(8, true), ArchiveOf(9, true)}));
    EXPECT_EQ(Options.FileCountForTransfer(), 2);
    EXPECT_FALSE(DirectoryExists(Dir / "out"));
}

TEST_F(BackupRunTest, OldArchivesArePrunedAfterEachLocalRun) {
    Options.SetBackupKind(bkIncWeek);
    Options.SetBackupCount(2);
    for (int day = 8; day <= 12; ++day) {
        Source("a.txt", "version " + std::to_string(day), day);
        RunOn(day);
    }
    // The newest two are incremental: the complete archive of Monday stays with them.
    EXPECT_EQ(Archives(), (Names{ArchiveOf(8, true), ArchiveOf(9, false), ArchiveOf(10, false),
                                 ArchiveOf(11, false), ArchiveOf(12, false)}));
    Options.SetBackupKind(bkFull);
    RunOn(13);
    RunOn(14);
    EXPECT_EQ(Archives(), (Names{ArchiveOf(13, true), ArchiveOf(14, true)}));
}

// A second process cannot run a worker on the same data directory, either way round.
TEST_F(BackupRunTest, TwoProcessesCannotRunOnTheSameDataDirectory) {
    int toParent[2];
    int toChild[2];
    ASSERT_EQ(::pipe(toParent), 0);
    ASSERT_EQ(::pipe(toChild), 0);
    const std::string directory = Options.Directory();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TDataDirectoryLock lock(directory);
        const char held = lock.TryAcquire() ? 'y' : 'n';
        [[maybe_unused]] ssize_t ignored = ::write(toParent[1], &held, 1);
        char go = 0;
        ignored = ::read(toChild[0], &go, 1);
        ::_exit(0);
    }
    char held = 0;
    ASSERT_EQ(::read(toParent[0], &held, 1), 1);
    ASSERT_EQ(held, 'y');
    std::string error;
    EXPECT_FALSE(StartBackupThread(error));
    EXPECT_EQ(BackupThread, nullptr);
    EXPECT_NE(error.find("proces " + std::to_string(child)), std::string::npos) << error;
    ASSERT_EQ(::write(toChild[1], "g", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    ASSERT_TRUE(StartBackupThread(error)) << error;
    const pid_t second = ::fork();
    ASSERT_GE(second, 0);
    if (second == 0) {
        TDataDirectoryLock lock(directory);
        ::_exit(lock.TryAcquire() ? 0 : 3);
    }
    ASSERT_EQ(::waitpid(second, &status, 0), second);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
    StopBackupThread();
    for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) {
        ::close(fd);
    }
}

}  // namespace
}  // namespace sejfko

namespace sejfko {
namespace {

// A complete run first measures its selection (for a selection naming "/" that walks the whole
// disk): a terminate request during that walk ends it, and the run with it, before any file is
// packed (a packed file would move the percentage past 0).
TEST_F(BackupRunTest, TerminateRequestEndsTheSizeWalk) {
    Options.SetBackupKind(bkFull);
    for (int d = 0; d < 40; ++d) {
        for (int f = 0; f < 50; ++f) {
            Source("d" + std::to_string(d) + "/f" + std::to_string(f) + ".txt", "x");
        }
    }
    TBackupThread worker;  // never started: the run happens on this thread, as the CLI's does
    std::vector<intptr_t> percentages;
    Sink.OnPost = [&](const TRecordingSink::TPost& post) {
        if (post.Message == WM_BACKUP_STATUS && post.WParam == bsArchiveProgress) {
            percentages.push_back(post.LParam);
            worker.Terminate();
        }
    };
    worker.RunBackup();
    Sink.OnPost = {};
    EXPECT_EQ(percentages, std::vector<intptr_t>{0});
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsRunFinished), 0);
    EXPECT_EQ(Archives(), Names{});
    EXPECT_EQ(Options.LastRun(), NeverMarker);
    EXPECT_FALSE(worker.BackupRunning.load());
}

// The checksums of an incremental run read every file whole: a terminate request while a large
// one is read ends the reading at its next chunk.
TEST_F(BackupRunTest, TerminateRequestEndsAChecksumAtItsNextChunk) {
    Options.SetBackupKind(bkIncWeek);
    const std::string big = Source("big.bin", std::string(8 << 20, 'b'));
    TBackupThread worker;
    int reads = 0;
    int afterRequest = 0;
    TScopedFault watch([&](TFileOperation operation, const std::string& path) {
        if (operation == TFileOperation::Read && path == big) {
            afterRequest += worker.Terminated() ? 1 : 0;
            if (++reads == 2) {
                worker.Terminate();
            }
        }
        return 0;
    });
    worker.RunBackup();
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(afterRequest, 0);
    EXPECT_EQ(Archives(), Names{});
    EXPECT_FALSE(FileExists(Dir / "data/IncSelect.ini"));
}

}  // namespace
}  // namespace sejfko
