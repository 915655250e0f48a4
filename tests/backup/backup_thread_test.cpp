// The worker thread: notifications, pause and resume, terminate requests, failures in a pass.
// Passes are stepped by the test and the clock is a manual one, so nothing waits for real time.

#include "backup/backup_thread.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "archive/backup_job.hpp"
#include "backup/file_list.hpp"
#include "backup/file_scan.hpp"
#include "backup/update_batch.hpp"
#include "backup/worker_harness.hpp"
#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/data_directory.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TRecordingSink;
using test::TSteppedThread;
using test::TTempDir;
using TPost = TRecordingSink::TPost;

const TDateTime InTime = EncodeTime(20, 0, 0);
const TDateTime Monday2000 = EncodeDateTime(2024, 1, 8, 20, 0, 0);
const TDateTime Tuesday2000 = EncodeDateTime(2024, 1, 9, 20, 0, 0);
const TDateTime TuesdayRun = EncodeDateTime(2024, 1, 9, 20, 0, 5);

std::string RandomBytes(std::size_t size) {
    std::mt19937 random(11);
    std::string data(size, '\0');
    for (char& c : data) {
        c = static_cast<char>(random());
    }
    return data;
}

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetZipEngineDirectory(SEJFKO_ZIPENGINE_DIR);
        Options.Load(Dir.MakeDir("data"));
        Options.SetInTime(InTime);
        Options.SetLocalDirectory(Dir / "out");
    }
    void TearDown() override {
        Thread.reset();
        BackupThread.reset();
        DeleteUpdateBatch();
        SetZipEngineDirectory("");
    }

    // A weekly chain whose stored state is a day old: a.bin unchanged, b.txt edited, c.txt new,
    // and one stored file gone, so the run writes a deletion list. Tuesday's run is due.
    void PrepareIncrementalRun() {
        Dir.WriteFile("src/a.bin", RandomBytes(1 << 20));  // large enough for progress steps
        Dir.WriteFile("src/b.txt", "edited");
        Dir.WriteFile("src/c.txt", "added");
        Dir.WriteFile("data/selection.txt", Dir / "src" + "\n");
        Options.SetFileChoose("selection.txt");
        Options.SetBackupKind(bkIncWeek);
        Options.SetCompletelyWeekBackupDay(3);
        Options.SetLastRun(Monday2000);
        TExpandedFileList files;
        ExpandSelection(files, {Dir / "src"}, nullptr);
        TFileList state;
        for (const TExpandedFile& file : files) {
            uint32_t crc = 0;
            uint16_t error = 0;
            FileCrc32(file.Name, crc, error);
            if (file.Name.ends_with("a.bin")) {
                state.Add(file.Name, file.Stamp, crc);
            } else if (file.Name.ends_with("b.txt")) {
                state.Add(file.Name, file.Stamp - 1, crc ^ 1);
            }
        }
        state.Add(Dir / "src/gone.txt", 1, 2);
        state.SaveToFile(Dir / "data/IncSelect.ini");
        Clock.Set(TuesdayRun);
        Sink.Clear();
    }

    // Notes where the deletion list lies when the archive job is about to start (it exists by
    // then), so that its removal can be checked afterwards.
    void RecordBatch(const TPost& post) {
        if (post.Message == WM_BACKUP_STATUS && post.WParam == bsArchiveProgress &&
            BatchSeen.empty()) {
            const std::string path = UpdateBatchPath();
            BatchSeen = FileExists(path) ? path : "-";
        }
    }
    bool BatchGone() const {
        return BatchSeen.size() < 2 ||
               (!FileExists(BatchSeen) && !DirectoryExists(ExtractFileDir(BatchSeen)));
    }

    void MakeThread() {
        Thread = std::make_unique<TSteppedThread>();
        EXPECT_EQ(Thread->IncSelectPath, Dir / "data/IncSelect.ini");
    }

    // Hidden files (a temporary archive) left in the destination.
    std::vector<std::string> HiddenLeftovers() const {
        std::vector<TDirectoryEntry> entries;
        ListDirectory(Dir / "out", entries);
        std::vector<std::string> names;
        for (const TDirectoryEntry& entry : entries) {
            if (entry.Name.starts_with(".")) {
                names.push_back(entry.Name);
            }
        }
        return names;
    }

    TTempDir Dir;
    TManualClock Clock{TuesdayRun};
    TScopedClock ClockGuard{Clock};
    TRecordingSink Sink;
    TScopedMessageSink SinkGuard{Sink};
    std::unique_ptr<TSteppedThread> Thread;
    std::string BatchSeen;  // written by the worker's posts, read after it has stopped
};

TEST_F(WorkerTest, NormalRunPostsItsStatusCodesInOrder) {
    PrepareIncrementalRun();
    MakeThread();
    Sink.OnPost = [this](const TPost& post) { RecordBatch(post); };
    ASSERT_TRUE(Thread->Step());
    Sink.OnPost = nullptr;
    EXPECT_GT(BatchSeen.size(), 1u);
    EXPECT_TRUE(BatchGone());
    const std::vector<int> codes = Sink.Statuses();
    ASSERT_GE(codes.size(), 7u);
    EXPECT_EQ(codes[0], bsIdle);
    EXPECT_EQ(codes[1], bsRunStarted);
    EXPECT_EQ(codes[2], bsSelectionRead);
    std::size_t i = 3;
    while (i < codes.size() && codes[i] == bsArchiveProgress) {
        ++i;
    }
    EXPECT_GE(i, 5u) << "progress between 0 and the end";
    EXPECT_EQ(std::vector<int>(codes.begin() + static_cast<std::ptrdiff_t>(i), codes.end()),
              (std::vector<int>{bsSavingSelection, bsRunFinished, bsIdle}));
    // Progress: 0 first, then only changes.
    std::vector<intptr_t> percents;
    for (const TPost& post : Sink.Posts()) {
        if (post.Message == WM_BACKUP_STATUS && post.WParam == bsArchiveProgress) {
            percents.push_back(post.LParam);
        }
    }
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.front(), 0);
    EXPECT_EQ(percents.back(), 100);
    for (std::size_t k = 1; k < percents.size(); ++k) {
        EXPECT_NE(percents[k], percents[k - 1]);
    }
    EXPECT_TRUE(FileExists(Dir / "out/Backup_20240109_2000.fbk")) << LastMessage();
    EXPECT_EQ(Options.LastRun(), TuesdayRun);
    EXPECT_FALSE(Thread->BackupRunning.load());
    // The next slot: Wednesday at "In time".
    EXPECT_NEAR(Thread->NextRun.load(), EncodeDateTime(2024, 1, 10, 20, 0, 0), 1e-6);
    EXPECT_EQ(Sink.Count(WM_LAST_RUN_CHANGED), 2);  // never-marker, then the start time
}

TEST_F(WorkerTest, FreshOptionsPlanTheFirstStartBelowTen) {
    MakeThread();
    ASSERT_TRUE(Thread->Step());
    EXPECT_LT(Thread->NextRun.load(), 10.0);
    EXPECT_EQ(Sink.Statuses(), std::vector<int>{bsIdle});  // no selection file: no run
    ASSERT_TRUE(Thread->Step(3));
    EXPECT_EQ(Sink.Statuses(), std::vector<int>{bsIdle});
}

TEST_F(WorkerTest, RunsBelowNormalPriority) {
    MakeThread();
    ASSERT_TRUE(Thread->Step());
    const int mine = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    if (mine < 19) {
        EXPECT_GT(Thread->WorkerNice(), mine);
    }
}

TEST_F(WorkerTest, MissingSelectionFileIsReportedAndTheNextSlotPlanned) {
    Options.SetFileChoose("missing.txt");
    Options.SetLastRun(Monday2000);
    MakeThread();
    ASSERT_TRUE(Thread->Step());
    EXPECT_EQ(Sink.Count(WM_SELECTION_MISSING), 1);
    EXPECT_EQ(Sink.Statuses(), (std::vector<int>{bsIdle, bsRunStarted, bsIdle}));
    EXPECT_EQ(Options.LastRun(), NeverMarker);
    EXPECT_NEAR(Thread->NextRun.load(), EncodeDateTime(2024, 1, 10, 20, 0, 0), 1e-6);
    EXPECT_FALSE(Thread->BackupRunning.load());
    ASSERT_TRUE(Thread->Step(2));
    EXPECT_EQ(Sink.Count(WM_SELECTION_MISSING), 1);
}

// The options dialog brackets the question for the file with a pause: planned afterwards from
// "Last run" (the never-marker) the run would fail again at once, for ever. While the file is
// still missing the worker keeps the next slot; once it can be read, it runs at once.
TEST_F(WorkerTest, MissingSelectionWaitsForTheNextSlotAfterAPauseUntilTheFileIsBack) {
    Options.SetFileChoose("selection.txt");
    Options.SetLastRun(Monday2000);
    auto owned = std::make_unique<TSteppedThread>();
    TSteppedThread* thread = owned.get();
    thread->SetFreeRunning(true);
    BackupThread = std::move(owned);
    thread->Resume();
    ASSERT_TRUE(Sink.WaitForStatus(bsIdle, 2));
    ASSERT_EQ(Sink.Count(WM_SELECTION_MISSING), 1);

    for (int round = 0; round < 2; ++round) {
        SuspendBackupThread();
        const int idle = Sink.Count(WM_BACKUP_STATUS, bsIdle);
        ResumeBackupThread();
        ASSERT_TRUE(Sink.WaitForStatus(bsIdle, idle + 1));
        ASSERT_TRUE(thread->WaitForPasses(thread->Passes() + 3));
        EXPECT_EQ(Sink.Count(WM_SELECTION_MISSING), 1);
        EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsRunStarted), 1);
        EXPECT_NEAR(thread->NextRun.load(), EncodeDateTime(2024, 1, 10, 20, 0, 0), 1e-6);
    }

    Dir.WriteFile("src/a.txt", "a");
    Dir.WriteFile("data/selection.txt", Dir / "src" + "\n");
    SuspendBackupThread();
    ResumeBackupThread();
    ASSERT_TRUE(Sink.WaitForStatus(bsRunFinished));
    EXPECT_EQ(Sink.Count(WM_SELECTION_MISSING), 1);
    EXPECT_NEAR(Options.LastRun(), TuesdayRun, 1e-9);
}

TEST_F(WorkerTest, ExceptionInARunIsShownAndTheLoopGoesOn) {
    PrepareIncrementalRun();
    // The private directory exists; nothing can be created in it.
    const std::string batchDirectory = ExtractFileDir(UpdateBatchPath());
    TScopedFault fault(FailUnder(batchDirectory, TFileOperation::Create, EACCES));
    MakeThread();
    ASSERT_TRUE(Thread->Step());
    ASSERT_EQ(Sink.Exceptions().size(), 1u);
    EXPECT_FALSE(Sink.Exceptions()[0].empty());
    const std::vector<int> codes = Sink.Statuses();
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsRunFinished), 0);
    EXPECT_EQ(codes.back(), bsIdle);
    EXPECT_FALSE(Thread->BackupRunning.load());
    EXPECT_FALSE(DirectoryExists(batchDirectory));
    EXPECT_EQ(Options.LastRun(), NeverMarker);
    // The loop goes on, and the next slot is tomorrow's, not the next pass.
    ASSERT_TRUE(Thread->Step(2));
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsRunStarted), 1);
    EXPECT_FALSE(Thread->Ended());
}

TEST_F(WorkerTest, UnwritableOptionsFileFailsTheRunOncePerSlot) {
    PrepareIncrementalRun();
    MakeThread();
    {
        TScopedFault fault([this](TFileOperation operation, const std::string& path) {
            const bool write =
                operation == TFileOperation::Create || operation == TFileOperation::Rename;
            return write && path.starts_with(Dir / "data") ? EROFS : 0;
        });
        ASSERT_TRUE(Thread->Step(3));
    }
    EXPECT_EQ(Sink.Exceptions().size(), 1u);
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsRunStarted), 0);
    EXPECT_FALSE(Thread->BackupRunning.load());
    EXPECT_NEAR(Thread->NextRun.load(), EncodeDateTime(2024, 1, 10, 20, 0, 0), 1e-6);
}

TEST_F(WorkerTest, ImmediateRequestRunsOnTheNextPass) {
    PrepareIncrementalRun();
    Options.SetFileChoose("");
    MakeThread();
    ASSERT_TRUE(Thread->Step());
    Options.SetFileChoose("selection.txt");
    Options.SetLastRun(TuesdayRun);  // as if today's run were done
    Thread->NextRun.store(Clock.Now() - 1.0 / 86400);
    Clock.Advance(1.0 / 86400);
    ASSERT_TRUE(Thread->Step());
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsRunFinished), 1);
}

// A terminate request arriving when the worker posts `Status` (and, for progress, a value of
// at least `Percent`) ends the thread at its next check.
struct TTerminatePhase {
    const char* Name;
    int Status;
    intptr_t Percent;
};

class TerminateTest : public WorkerTest, public ::testing::WithParamInterface<TTerminatePhase> {};

TEST_P(TerminateTest, EndsAtTheNextCheckWithoutTracesOrFinishedStatus) {
    PrepareIncrementalRun();
    MakeThread();
    const TTerminatePhase phase = GetParam();
    TSteppedThread* thread = Thread.get();
    Sink.OnPost = [this, thread, phase](const TPost& post) {
        RecordBatch(post);
        if (post.Message == WM_BACKUP_STATUS && post.WParam == phase.Status &&
            post.LParam >= phase.Percent) {
            thread->Terminate();
        }
    };
    Thread->Resume();
    ASSERT_TRUE(Thread->WaitEnded());
    Sink.OnPost = nullptr;
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsRunFinished), 0);
    // After the request only the job's own progress and the closing steps' idle status.
    const std::vector<TPost> posts = Sink.Posts();
    std::size_t trigger = 0;
    while (trigger < posts.size() &&
           !(posts[trigger].Message == WM_BACKUP_STATUS && posts[trigger].WParam == phase.Status &&
             posts[trigger].LParam >= phase.Percent)) {
        ++trigger;
    }
    ASSERT_LT(trigger, posts.size());
    for (std::size_t k = trigger + 1; k < posts.size(); ++k) {
        EXPECT_TRUE(posts[k].WParam == bsIdle ||
                    (phase.Status == bsArchiveProgress && posts[k].WParam == bsArchiveProgress))
            << "status " << posts[k].WParam << " after the request";
    }
    EXPECT_EQ(posts.back().WParam, bsIdle);
    EXPECT_EQ(Thread->Passes(), 0);
    EXPECT_TRUE(BatchGone());
    if (phase.Status == bsArchiveProgress || phase.Status == bsSavingSelection) {
        EXPECT_GT(BatchSeen.size(), 1u);
    }
    EXPECT_EQ(HiddenLeftovers(), std::vector<std::string>{});
    EXPECT_FALSE(Thread->BackupRunning.load());
    if (phase.Status != bsSavingSelection) {
        EXPECT_EQ(Options.LastRun(), NeverMarker);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachPhase, TerminateTest,
    ::testing::Values(TTerminatePhase{"RunStarted", bsRunStarted, 0},
                      TTerminatePhase{"SelectionRead", bsSelectionRead, 0},
                      TTerminatePhase{"BeforeArchive", bsArchiveProgress, 0},
                      TTerminatePhase{"DuringArchive", bsArchiveProgress, 1},
                      TTerminatePhase{"SavingSelection", bsSavingSelection, 0}),
    [](const ::testing::TestParamInfo<TTerminatePhase>& info) { return info.param.Name; });

TEST_F(WorkerTest, ArchiveProgressPostsOnlyChangesAndAnswersTheTerminateRequest) {
    TBackupThread thread;
    bool abort = true;
    for (int32_t percent : {0, 5, 5, 40, -1, -1, 100}) {
        thread.ArchiveProgress(percent, abort);
        EXPECT_FALSE(abort);
    }
    std::vector<intptr_t> posted;
    for (const TPost& post : Sink.Posts()) {
        posted.push_back(post.LParam);
    }
    EXPECT_EQ(posted, (std::vector<intptr_t>{5, 40, -1, 100}));
    thread.Terminate();
    thread.ArchiveProgress(100, abort);
    EXPECT_TRUE(abort);
    thread.QueryTerminated(abort = false);
    EXPECT_TRUE(abort);
}

TEST_F(WorkerTest, PauseAndResumeReplanFromChangedOptions) {
    Options.SetLastRun(Monday2000);
    Options.SetRunEvery(1);
    auto owned = std::make_unique<TSteppedThread>();
    TSteppedThread* thread = owned.get();
    thread->SetFreeRunning(true);
    BackupThread = std::move(owned);

    int processed = 0;
    SuspendBackupThread([&] { ++processed; });  // starts the thread, then pauses it
    EXPECT_TRUE(thread->Suspended());
    EXPECT_GE(processed, 1);
    EXPECT_NEAR(thread->NextRun.load(), Tuesday2000, 1e-6);

    Options.SetRunEvery(7);
    Options.SetInTime(EncodeTime(8, 0, 0));
    const int idleBefore = Sink.Count(WM_BACKUP_STATUS, bsIdle);
    ResumeBackupThread();
    ASSERT_TRUE(Sink.WaitForStatus(bsIdle, idleBefore + 1));
    EXPECT_NEAR(thread->NextRun.load(), EncodeDateTime(2024, 1, 15, 8, 0, 0), 1e-6);

    // A request signalled again while the worker was pausing for the first one must not pause
    // it a second time after the resume.
    SuspendBackupThread();
    ASSERT_TRUE(thread->Suspended());
    thread->SuspendEvent.Set();
    const int passes = thread->Passes();
    ResumeBackupThread();
    ASSERT_TRUE(thread->WaitForPasses(passes + 3));
    EXPECT_FALSE(thread->Suspended());

    // Stopping a paused worker resumes it and ends it.
    SuspendBackupThread();
    ASSERT_TRUE(thread->Suspended());
    StopBackupThread();
    EXPECT_EQ(BackupThread, nullptr);
}

// `sejfko-cli config` writes Options.ini while this process's worker runs on the same data
// directory: the next pass takes the change in and plans from it.
TEST_F(WorkerTest, ChangeMadeByAnotherProcessIsTakenInAndPlannedFrom) {
    Options.SetLastRun(Monday2000);
    Options.SetRunEvery(1);
    MakeThread();
    ASSERT_TRUE(Thread->Step());
    EXPECT_NEAR(Thread->NextRun.load(), Tuesday2000, 1e-6);  // no selection file: no run
    const std::string command = std::string(SEJFKO_CLI_PATH) + " --config-dir '" +
                                Options.Directory() + "' config 'Run every(Days)' 7";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const int idle = Sink.Count(WM_BACKUP_STATUS, bsIdle);
    ASSERT_TRUE(Thread->Step());
    EXPECT_EQ(Options.RunEvery(), 7);
    EXPECT_NEAR(Thread->NextRun.load(), EncodeDateTime(2024, 1, 15, 20, 0, 0), 1e-6);
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsIdle), idle + 1);
    // Nothing changed since: no further planning.
    ASSERT_TRUE(Thread->Step(2));
    EXPECT_EQ(Sink.Count(WM_BACKUP_STATUS, bsIdle), idle + 1);
}

// A clock that was set ahead and then corrected: "Last run" (and a plan made meanwhile) lies in
// the future; the schedule plans from the present instead of waiting for that date.
TEST_F(WorkerTest, FutureLastRunCountsAsNow) {
    const TDateTime ahead = EncodeDateTime(2028, 9, 4, 20, 0, 5);
    Options.SetFileChoose("missing.txt");  // a run would report it
    Options.SetLastRun(ahead);
    Clock.Set(TuesdayRun);
    MakeThread();
    ASSERT_TRUE(Thread->Step());
    EXPECT_NEAR(Thread->NextRun.load(), Tuesday2000 + 1.0, 1e-6);
    EXPECT_EQ(Sink.Count(WM_SELECTION_MISSING), 0);

    // The clock goes back while the worker runs: the plan made at the wrong time is redone.
    Thread->NextRun.store(EncodeDateTime(2028, 9, 5, 20, 0, 0));
    Clock.Set(TuesdayRun + 3.0);  // Friday
    ASSERT_TRUE(Thread->Step());
    EXPECT_NEAR(Thread->NextRun.load(), Tuesday2000 + 4.0, 1e-6);
    EXPECT_EQ(Sink.Count(WM_SELECTION_MISSING), 0);
}

TEST_F(WorkerTest, StopWithoutAWorkerOrBeforeItsStartReturns) {
    StopBackupThread();
    TBackupThread neverStarted;
    EXPECT_TRUE(neverStarted.Suspended());
    neverStarted.Terminate();
    neverStarted.WaitFor();
    EXPECT_TRUE(neverStarted.Terminated());
}

TEST_F(WorkerTest, StartIsRefusedWhileTheDataDirectoryIsLocked) {
    TDataDirectoryLock other(Options.Directory());
    ASSERT_TRUE(other.TryAcquire());
    std::string error;
    EXPECT_FALSE(StartBackupThread(error));
    EXPECT_EQ(BackupThread, nullptr);
    EXPECT_NE(error.find("Sejfko už běží"), std::string::npos) << error;
    other.Release();
    ASSERT_TRUE(StartBackupThread(error)) << error;
    ASSERT_NE(BackupThread, nullptr);
    TDataDirectoryLock third(Options.Directory());
    EXPECT_FALSE(third.TryAcquire());
    StopBackupThread();
    EXPECT_TRUE(third.TryAcquire());
}

}  // namespace
}  // namespace sejfko
