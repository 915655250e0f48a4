// Random histories: a tree changes at random over simulated days, the worker backs it up (complete
// and incremental kinds, several runs within one minute, local storage or a real FTP server),
// and after every run each archive point is restored into a fresh directory and compared with
// what the tree held at that point. Any difference fails with the seed and the history's log.
//
// What a point must give back: every file of the tree at the run's start, names and contents
// exact. Times and permission bits are those of the version last archived: a file only touched
// is not archived by an incremental run (its content is unchanged), so it keeps its earlier time.
// A file deleted while the archive job ran is left out of that one point's comparison.
//
// SEJFKO_TORTURE_SEED=N runs that one history; SEJFKO_TORTURE_SECONDS=N runs fresh seeds for
// that long. Without either, a fixed set of seeds.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "archive/backup_job.hpp"
#include "backup/backup_thread.hpp"
#include "backup/worker_harness.hpp"
#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/file_system.hpp"
#include "restore/py_ftp_server.hpp"
#include "restore/restore_chain.hpp"
#include "restore/restore_run.hpp"
#include "support/local_time.hpp"
#include "support/temp_dir.hpp"
#include "support/tree_snapshot.hpp"
#include "torture/history_tree.hpp"

namespace sejfko::test {
namespace {

struct THistorySettings {
    uint64_t Seed = 0;
    TBackupKind Kind = bkIncWeek;
    bool Remote = false;
    int Days = 12;
    int32_t BackupCount = 1000;  // small ones prune: what is left must still restore

    static THistorySettings FromSeed(uint64_t seed) {
        THistorySettings settings;
        settings.Seed = seed;
        settings.Remote = (seed & 1) != 0;
        settings.Kind = static_cast<TBackupKind>((seed >> 1) % 3);
        settings.Days = 8 + static_cast<int>(seed % 7);
        if (seed % 4 == 3) {
            settings.BackupCount = 3 + static_cast<int32_t>(seed % 5);
        }
        return settings;
    }
    std::string Describe() const {
        std::ostringstream out;
        out << "seed " << Seed << " (kind " << int(Kind) << ", " << (Remote ? "remote" : "local")
            << ", " << Days << " days, keeping " << BackupCount << ")";
        return out.str();
    }
};

// What restoring one archive point must give.
struct TPoint {
    std::string Stamp;
    TSnapshot Expected;
    std::set<std::string> Ignore;
};

class TRandomHistory {
public:
    explicit TRandomHistory(const THistorySettings& settings)
        : FSettings(settings), FTree(FDir / "src", settings.Seed) {}

    // Empty when the history held every promise; else what went wrong and the log.
    std::string Run() {
        try {
            Prepare();
            for (int day = 0; day < FSettings.Days && FFailure.empty(); ++day) {
                Day(day);
            }
            if (FFailure.empty() && FSettings.Remote) {
                Transfer();
                VerifyPoints("after the last transfer");
            }
        } catch (const std::exception& error) {
            Fail(std::string("exception: ") + error.what());
        }
        if (FThread) {
            FThread->Stop();
        }
        if (FFailure.empty()) {
            return {};
        }
        std::string report = FSettings.Describe() + ": " + FFailure + "\nlog:\n";
        for (const std::string& line : FTree.Log()) {
            report += "  " + line + "\n";
        }
        return report;
    }

    int Points() const { return static_cast<int>(FPoints.size()); }
    int Restores() const { return FRestores; }

private:
    void Fail(const std::string& what) {
        if (FFailure.empty()) {
            FFailure = what;
        }
    }

    void Prepare() {
        SetZipEngineDirectory(SEJFKO_ZIPENGINE_DIR);
        Options.Load(FDir.MakeDir("data"));
        Options.SetBackupKind(FSettings.Kind);
        Options.SetCompletelyWeekBackupDay(static_cast<int32_t>(1 + FTree.Below(7)));
        Options.SetCompletelyMonthBackupDay(static_cast<int32_t>(1 + FTree.Below(31)));
        Options.SetInTime(EncodeTime(20, 0, 0));
        Options.SetRunEvery(1);
        Options.SetBackupCount(FSettings.BackupCount);
        if (FSettings.Remote) {
            FServer = std::make_unique<TPyFtpServer>(FDir.MakeDir("ftp"), "zaloha", "heslo");
            if (FServer->Port == 0) {
                throw std::runtime_error("pyftpdlib did not start");
            }
            Options.SetSavingKind(skRemote);
            Options.SetLocalTemporaryDirectory(FDir / "outbox");
            Options.SetRemoteHost("127.0.0.1:" + std::to_string(FServer->Port));
            Options.SetRemoteUser("zaloha");
            Options.SetRemotePassword("heslo");
            Options.SetPassiveMode(FTree.Chance(50) ? 1 : 0);
        } else {
            Options.SetSavingKind(skLocal);
            Options.SetLocalDirectory(FDir / "out");
        }
        // An excluded folder whose files must never come back.
        FDir.WriteFile("src/excluded/secret.txt", "never archived");
        FDir.WriteFile("data/selection.txt",
                       FTree.Root() + "\n" + FTree.Root() + "/excluded/ /Exclude\n");
        Options.SetFileChoose("selection.txt");
        FThread = std::make_unique<TSteppedThread>();
        FThread->TransferTick.store(0);  // transfers only when the history asks for them
        FSink.OnPost = [this](const TRecordingSink::TPost& post) { OnPost(post); };
    }

    void Day(int day) {
        FTree.SetChangeTime(LocalSeconds(2025, 1, 6 + day, 9, 0, 0));
        const uint64_t changes = 1 + FTree.Below(6);
        for (uint64_t i = 0; i < changes; ++i) {
            FTree.RandomChange();
        }
        const uint64_t runs = FTree.Chance(30) ? 2 + FTree.Below(2) : 1;
        for (uint64_t run = 0; run < runs && FFailure.empty(); ++run) {
            if (run > 0) {
                const uint64_t more = FTree.Below(3);
                for (uint64_t i = 0; i < more; ++i) {
                    FTree.RandomChange();
                }
            }
            if (FTree.Chance(5)) {
                const auto kind = static_cast<TBackupKind>(FTree.Below(3));
                FTree.Log().push_back("kind " + std::to_string(kind));
                Options.SetBackupKind(kind);
            }
            OneRun(EncodeDateTime(2025, 1, 6 + day, 20, 0, static_cast<int>(5 + 25 * run)));
            VerifyPoints("after run " + std::to_string(FRun));
        }
        if (FFailure.empty() && FSettings.Remote && FTree.Chance(70)) {
            Transfer();
            VerifyPoints("after a transfer");
        }
    }

    // Every archive name where archives are kept: a pass may also send what a run made.
    std::vector<std::string> ArchiveNames() const {
        std::vector<std::string> names =
            EntryNames(FSettings.Remote ? FDir / "outbox" : FDir / "out");
        if (FSettings.Remote) {
            for (const std::string& name : EntryNames(FDir / "ftp")) {
                names.push_back(name);
            }
        }
        return names;
    }

    // The file to delete while the job runs: one the run will archive (changed or new), so that
    // its absence matters.
    std::string PickVictim(bool complete) {
        std::vector<std::string> candidates;
        if (FTree.Files().size() < 2) {
            return {};  // an empty tree makes no archive at all
        }
        for (const auto& [name, file] : FTree.Files()) {
            const auto saved = FBackedUp.find(name);
            if (complete || saved == FBackedUp.end() || saved->second.Content != file.Content) {
                candidates.push_back(name);
            }
        }
        return candidates.empty() ? std::string() : candidates[FTree.Below(candidates.size())];
    }

    void OnPost(const TRecordingSink::TPost& post) {
        if (FVictim.empty() || FVictimGone || post.Message != WM_BACKUP_STATUS ||
            post.WParam != bsArchiveProgress || (FVictimLate && post.LParam <= 0)) {
            return;
        }
        FVictimGone = ::unlink((FTree.Root() + "/" + FVictim).c_str()) == 0;
    }

    void OneRun(TDateTime moment) {
        ++FRun;
        const TSnapshot scanned = FTree.Files();
        const std::vector<std::string> before = ArchiveNames();
        const bool maybeComplete = Options.BackupKind() == bkFull;
        FVictim.clear();
        FVictimGone = false;
        if (FTree.Chance(15)) {
            FVictim = PickVictim(maybeComplete);
            FVictimLate = FTree.Chance(50);
            if (!FVictim.empty()) {
                FTree.Log().push_back("run " + std::to_string(FRun) + " deletes " +
                                      Printable(FVictim) + " during the job");
            }
        }
        FTree.Log().push_back("run " + std::to_string(FRun) + " at " + FormatArchiveStamp(moment));
        FClock.Set(moment);
        FThread->NextRun.store(moment - 1.0 / 86400);
        if (!FThread->Step() || FThread->BackupRunning.load()) {
            throw std::runtime_error("the worker did not finish its pass");
        }
        if (!FSink.Exceptions().empty()) {
            Fail("run " + std::to_string(FRun) + " raised: " + FSink.Exceptions().front());
            return;
        }
        std::set<std::string> ignore;
        if (!FVictim.empty()) {
            if (FVictimGone) {
                ignore.insert(FVictim);
            } else {
                ::unlink((FTree.Root() + "/" + FVictim).c_str());  // after the job, then
            }
        }

        std::vector<std::string> made;
        for (const std::string& name : ArchiveNames()) {
            if (std::find(before.begin(), before.end(), name) == before.end() &&
                name.find(".fbk") == name.size() - 4 && name.front() != '.') {
                made.push_back(name);
            }
        }
        if (made.size() > 1) {
            Fail("run " + std::to_string(FRun) + " made several archives");
            return;
        }
        if (made.empty()) {
            if (!FThread->LastRunChangedNothing()) {
                Fail("run " + std::to_string(FRun) + " made no archive: " + LastMessage());
                return;
            }
            if (Options.LastRun() != moment) {
                Fail("a run that found nothing changed did not record Last run");
            }
            if (ChangedSince(scanned)) {
                Fail("run " + std::to_string(FRun) + " found nothing changed although files did");
            }
        } else {
            if (LastMessage().rfind("Záloha byla úspěšně dokončena.", 0) != 0) {
                Fail("run " + std::to_string(FRun) + ": " + LastMessage());
            }
            std::string stamp;
            bool full = false;
            if (!ParseArchiveName(made.front(), stamp, full)) {
                Fail("archive named " + made.front());
                return;
            }
            if (stamp <= FLastStamp) {
                Fail("archive " + made.front() + " is not named later than " + FLastStamp);
            }
            FLastStamp = stamp;
            Record(scanned, full);
            FPoints[stamp] = {stamp, FBackedUp, ignore};
            FTree.Log().push_back("  -> " + made.front());
        }
        if (!FVictim.empty()) {
            FTree.Forget(FVictim);
            FBackedUp.erase(FVictim);
        }
    }

    // What the chain holds after a run that archived `scanned`: a complete run everything, an
    // incremental one what is new or has other content (a touched file keeps its version).
    void Record(const TSnapshot& scanned, bool complete) {
        if (complete) {
            FBackedUp = scanned;
            return;
        }
        for (auto it = FBackedUp.begin(); it != FBackedUp.end();) {
            it = scanned.count(it->first) == 0 ? FBackedUp.erase(it) : std::next(it);
        }
        for (const auto& [name, file] : scanned) {
            const auto saved = FBackedUp.find(name);
            if (saved == FBackedUp.end() || saved->second.Content != file.Content) {
                FBackedUp[name] = file;
            }
        }
    }

    bool ChangedSince(const TSnapshot& scanned) const {
        if (scanned.size() != FBackedUp.size()) {
            return true;
        }
        for (const auto& [name, file] : scanned) {
            const auto saved = FBackedUp.find(name);
            if (saved == FBackedUp.end() || saved->second.Content != file.Content) {
                return true;
            }
        }
        return false;
    }

    void Transfer() {
        FTree.Log().push_back("transfer");
        FThread->TransferTick.store(60);  // the next pass is a transfer pass
        FThread->NextRun.store(FClock.Now() + 1000);
        if (!FThread->Step()) {
            throw std::runtime_error("the worker did not finish its transfer pass");
        }
        if (Options.FileCountForTransfer() != 0 || !EntryNames(FDir / "outbox").empty()) {
            Fail("archives still wait after a transfer: " +
                 std::to_string(Options.FileCountForTransfer()));
        }
    }

    void VerifyPoints(const std::string& when) {
        if (!FFailure.empty() || FPoints.empty()) {
            return;
        }
        std::vector<std::string> sources = {FSettings.Remote ? FDir / "ftp" : FDir / "out"};
        if (FSettings.Remote && DirectoryExists(FDir / "outbox")) {
            sources.push_back(FDir / "outbox");
        }
        const std::vector<TArchiveRef> archives = CollectArchives(sources);
        std::set<std::string> present;
        for (const TArchiveRef& archive : archives) {
            present.insert(archive.Stamp);
        }
        for (auto it = FPoints.begin(); it != FPoints.end();) {
            if (present.count(it->first) != 0) {
                ++it;
            } else if (FSettings.BackupCount < 1000) {
                it = FPoints.erase(it);  // pruned
            } else {
                Fail(when + ": the archive of " + it->first + " is gone");
                return;
            }
        }
        for (const auto& [stamp, point] : FPoints) {
            const std::string target = FDir / ("restore-" + std::to_string(++FRestores));
            PrepareRestoreTarget(target, false, false);
            TRestoreOptions options;
            options.Target = target;
            TCollectingObserver observer;
            const TRestoreSummary summary =
                RestoreChain(SelectChain(archives, stamp), options, observer);
            std::string problems = observer.Problems;
            if (!summary.Succeeded() && problems.empty()) {
                problems = "the restore did not succeed\n";
            }
            const std::string differences = CompareSnapshots(
                point.Expected, TakeSnapshot(target + FTree.Root()), 2, point.Ignore);
            std::filesystem::remove_all(target);
            if (!problems.empty() || !differences.empty()) {
                Fail(when + ", restoring " + stamp + ":\n" + problems + differences);
                return;
            }
        }
    }

    class TCollectingObserver : public TRestoreObserver {
    public:
        void Problem(const std::string& message) override { Problems += message + "\n"; }
        std::string Problems;
    };

    THistorySettings FSettings;
    TTempDir FDir;
    THistoryTree FTree;
    TManualClock FClock;
    TScopedClock FClockGuard{FClock};
    TRecordingSink FSink;
    TScopedMessageSink FSinkGuard{FSink};
    std::unique_ptr<TPyFtpServer> FServer;
    std::unique_ptr<TSteppedThread> FThread;
    TSnapshot FBackedUp;
    std::map<std::string, TPoint> FPoints;  // by stamp, in the order made
    std::string FLastStamp;
    std::string FVictim;
    bool FVictimLate = false;
    bool FVictimGone = false;
    int FRun = 0;
    int FRestores = 0;
    std::string FFailure;
};

// One history per seed; a failure prints what to run to see it again.
void RunSeed(uint64_t seed, int& points, int& restores) {
    TRandomHistory history(THistorySettings::FromSeed(seed));
    const std::string failure = history.Run();
    points += history.Points();
    restores += history.Restores();
    EXPECT_EQ(failure, "") << "replay with SEJFKO_TORTURE_SEED=" << seed;
}

TEST(RandomHistory, EveryArchivePointRestoresTheTreeOfItsMoment) {
    int points = 0;
    int restores = 0;
    int histories = 0;
    if (const char* seed = std::getenv("SEJFKO_TORTURE_SEED")) {
        RunSeed(std::strtoull(seed, nullptr, 10), points, restores);
        histories = 1;
    } else if (const char* seconds = std::getenv("SEJFKO_TORTURE_SECONDS")) {
        const auto end =
            std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(seconds));
        uint64_t seed =
            static_cast<uint64_t>(::getpid()) * 1000003u +
            static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
        while (std::chrono::steady_clock::now() < end && !HasFailure()) {
            RunSeed(seed++ % 100000000, points, restores);
            ++histories;
        }
    } else {
        for (uint64_t seed = 1; seed <= 30 && !HasFailure(); ++seed) {
            RunSeed(seed, points, restores);
            ++histories;
        }
    }
    std::printf("%d histories, %d archive points, %d restores\n", histories, points, restores);
}

}  // namespace
}  // namespace sejfko::test
