// Which archives retention deletes, by name alone and in a real directory.

#include "backup/retention.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "backup/backup_thread.hpp"
#include "backup/schedule.hpp"
#include "config/options.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using Names = std::vector<std::string>;
using test::TTempDir;

std::string Archive(int month, int day, bool full) {
    std::string name = "Backup_2024";
    AppendPadded(name, month, 2);
    AppendPadded(name, day, 2);
    return name + "_2000" + (full ? "_full" : "") + ".fbk";
}

TEST(ArchivesToPruneTest, KeepsTheNewestCountAndDeletesOldestFirst) {
    const Names names = {Archive(1, 1, true), Archive(1, 2, true), Archive(1, 3, true),
                         Archive(1, 4, true), Archive(1, 5, true)};
    EXPECT_EQ(ArchivesToPrune(names, 3), (Names{names[0], names[1]}));
    EXPECT_EQ(ArchivesToPrune(names, 5), Names{});
    EXPECT_EQ(ArchivesToPrune(names, 7), Names{});
    EXPECT_EQ(ArchivesToPrune({}, 3), Names{});
}

TEST(ArchivesToPruneTest, CountBelowOneKeepsTheNewest) {
    const Names names = {Archive(1, 1, true), Archive(1, 2, true), Archive(1, 3, true)};
    for (int32_t count : {0, -1, -2147483647 - 1}) {
        EXPECT_EQ(ArchivesToPrune(names, count), (Names{names[0], names[1]})) << count;
    }
}

TEST(ArchivesToPruneTest, NameOrderIgnoresLetterCase) {
    // Same minute: the incremental name ('.' after the stamp) sorts before "_full".
    Names names = {"backup_20240101_1200_FULL.fbk", "Backup_20240101_1200.fbk", "old.fbk",
                   "2000.fbk", "BACKUP_20231231_2359.fbk"};
    SortArchiveNames(names);
    EXPECT_EQ(names, (Names{"2000.fbk", "BACKUP_20231231_2359.fbk", "Backup_20240101_1200.fbk",
                            "backup_20240101_1200_FULL.fbk", "old.fbk"}));
    EXPECT_TRUE(IsCompleteArchiveName("backup_20240101_1200_FULL.fbk"));
    EXPECT_TRUE(IsCompleteArchiveName("/srv/a_b/Backup_20240101_1200_full.fbk"));
    EXPECT_FALSE(IsCompleteArchiveName("/srv/x_full/Backup_20240101_1200.fbk"));
}

TEST(ArchivesToPruneTest, ForeignNamesCountWhereTheySort) {
    // 2000.fbk sorts before the job's names and goes first; old.fbk sorts after and stays.
    Names names = {"old.fbk", Archive(1, 2, true), "2000.fbk", Archive(1, 3, true)};
    SortArchiveNames(names);
    EXPECT_EQ(ArchivesToPrune(names, 2), (Names{"2000.fbk", Archive(1, 2, true)}));
}

TEST(ArchivesToPruneTest, KeptIncrementalsKeepTheCompleteArchiveTheyBuildOn) {
    const Names names = {Archive(1, 1, true),  Archive(1, 2, false), Archive(1, 3, false),
                         Archive(1, 4, false), Archive(1, 5, true),  Archive(1, 6, false)};
    // Newest two: 5 (complete) and 6; everything before the complete one goes.
    EXPECT_EQ(ArchivesToPrune(names, 2), (Names{names[0], names[1], names[2], names[3]}));
    // Newest three start with the incremental of the 4th: its chain back to the 1st stays.
    EXPECT_EQ(ArchivesToPrune(names, 3), Names{});
    // Newest one is an incremental: it keeps the 5th.
    EXPECT_EQ(ArchivesToPrune(names, 1), (Names{names[0], names[1], names[2], names[3]}));
}

TEST(ArchivesToPruneTest, IncrementalsWithoutAnyCompleteArchiveAreCountedPlainly) {
    const Names names = {Archive(1, 2, false), Archive(1, 3, false), Archive(1, 4, false)};
    EXPECT_EQ(ArchivesToPrune(names, 2), Names{names[0]});
}

TEST(ArchivesToPruneTest, TheArchiveJustMadeIsNeverDeleted) {
    // A foreign name sorting last would otherwise push the new archive out.
    const Names names = {Archive(1, 2, false), Archive(1, 3, false), "zzz.fbk"};
    EXPECT_EQ(ArchivesToPrune(names, 1, Archive(1, 3, false)), Names{names[0]});
    EXPECT_EQ(ArchivesToPrune(names, 1), (Names{names[0], names[1]}));
}

// Monthly kind, complete on day 31, "Backup count" 31, one run a day from January to May: after
// every run each kept incremental archive still has its complete archive, and February (which
// has no 31st) does not push the complete archive of 31 January out.
TEST(ArchivesToPruneTest, MonthlyChainsSurviveFebruary) {
    const TDateTime inTime = EncodeTime(20, 0, 0);
    Names kept;
    TDateTime lastRun = 100.0;
    bool january31KeptOnMarch3 = false;
    for (TDateTime day = EncodeDate(2024, 1, 1); day <= EncodeDate(2024, 5, 31); day += 1.0) {
        const TDateTime now = day + inTime + 1.0 / 86400;
        const bool full = !IncrementalRunAllowed(bkIncMonth, 0, 31, inTime, lastRun, now);
        const TDateParts parts = DecodeDate(now);
        const std::string made = Archive(parts.Month, parts.Day, full);
        kept.push_back(made);
        lastRun = now;
        for (const std::string& doomed : ArchivesToPrune(kept, 31, made)) {
            EXPECT_NE(doomed, made);
            kept.erase(std::find(kept.begin(), kept.end(), doomed));
        }
        ASSERT_FALSE(kept.empty());
        EXPECT_TRUE(IsCompleteArchiveName(kept.front())) << "orphaned chain from " << kept.front();
        if (parts.Month == 3 && parts.Day == 3) {
            january31KeptOnMarch3 = kept.front() == Archive(1, 31, true);
            // A plain count would have deleted it on 2 March, orphaning 31 incrementals.
            EXPECT_EQ(kept.size(), 33u);
        }
        // Once the chain of 31 March has 31 newer archives, the older chains go.
        EXPECT_LE(kept.size(), 31u + 62u);
    }
    EXPECT_TRUE(january31KeptOnMarch3);
    EXPECT_EQ(kept.front(), Archive(3, 31, true));
}

// PruneLocalBackups in a real "Local directory".
class PruneLocalTest : public ::testing::Test {
protected:
    void SetUp() override {
        Options.Load(Dir.MakeDir("data"));
        Options.SetLocalDirectory(Dir.MakeDir("out"));
    }
    Names Remaining() const {
        std::vector<TDirectoryEntry> entries;
        ListDirectory(Dir / "out", entries);
        Names names;
        for (const TDirectoryEntry& entry : entries) {
            names.push_back(entry.Name);
        }
        return names;
    }
    TTempDir Dir;
};

TEST_F(PruneLocalTest, DeletesOnlyOldArchiveFiles) {
    for (int day = 1; day <= 5; ++day) {
        Dir.WriteFile("out/" + Archive(1, day, true), "x");
    }
    Dir.WriteFile("out/notes.txt", "keep");
    Dir.WriteFile("out/Backup_20230101_0000.FBK", "other extension on this platform");
    Dir.MakeDir("out/a.fbk");
    Dir.WriteFile("out/a.fbk/inside.fbk", "a directory is no archive");
    Options.SetBackupCount(3);
    TBackupThread thread;
    thread.PruneLocalBackups();
    EXPECT_EQ(Remaining(), (Names{"Backup_20230101_0000.FBK", Archive(1, 3, true),
                                  Archive(1, 4, true), Archive(1, 5, true), "a.fbk", "notes.txt"}));
}

TEST_F(PruneLocalTest, AnUndeletableArchiveStillCountsAndStays) {
    for (int day = 1; day <= 4; ++day) {
        Dir.WriteFile("out/" + Archive(1, day, true), "x");
    }
    Options.SetBackupCount(2);
    TBackupThread thread;
    {
        TScopedFault fault(
            FailUnder(Dir / "out/" + Archive(1, 1, true), TFileOperation::Remove, EACCES));
        thread.PruneLocalBackups();
    }
    EXPECT_EQ(Remaining(), (Names{Archive(1, 1, true), Archive(1, 3, true), Archive(1, 4, true)}));
    thread.PruneLocalBackups();
    EXPECT_EQ(Remaining(), (Names{Archive(1, 3, true), Archive(1, 4, true)}));
}

TEST_F(PruneLocalTest, MissingDirectoryOrTerminateRequestDeletesNothing) {
    for (int day = 1; day <= 3; ++day) {
        Dir.WriteFile("out/" + Archive(1, day, true), "x");
    }
    Options.SetBackupCount(1);
    TBackupThread thread;
    thread.Terminate();
    thread.PruneLocalBackups();
    EXPECT_EQ(Remaining().size(), 3u);
    Options.SetLocalDirectory(Dir / "missing");
    TBackupThread other;
    other.PruneLocalBackups();
    EXPECT_FALSE(DirectoryExists(Dir / "missing"));
}

}  // namespace
}  // namespace sejfko
