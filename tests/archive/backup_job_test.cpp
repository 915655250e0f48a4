// Archive job pieces that need no engine: destination rules, generated names, the size walk,
// the space texts, the progress relay and the failures that come before the archive is built.

#include "archive/backup_job.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/archive_naming.hpp"
#include "archive/archive_space.hpp"
#include "platform/clock.hpp"
#include "platform/exceptions.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "platform/locale_format.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TTempDir;

const TDateTime Stamp2315 = EncodeDateTime(2024, 1, 31, 23, 15, 42);

TEST(ArchiveNaming, DestinationKinds) {
    TTempDir dir;
    dir.MakeDir(".zalohy");
    dir.MakeDir("Backups.old");
    dir.WriteFile("archiv.fbk", "x");
    struct TRow {
        std::string Destination;
        bool Directory;
    } rows[] = {
        {dir / "new", true},          // no dot: a directory to create
        {dir / ".zalohy", true},      // dot, but an existing directory
        {dir / "Backups.old", true},  // likewise
        {dir / "not.yet/", true},     // dot, but a trailing separator
        {dir / "zaloha.fbk", false},  // dot: the archive name itself
        {dir / "archiv.fbk", false},  // an existing file stays a file
        {dir / "a.b/c", true},        // only the last component counts
        {"relative.zip", false},
    };
    for (const TRow& row : rows) {
        EXPECT_EQ(IsDirectoryDestination(row.Destination), row.Directory) << row.Destination;
    }
}

TEST(ArchiveNaming, RelativePathsResolveAgainstCurrentDirectory) {
    const std::string absolute = AbsolutePath("sub");
    ASSERT_FALSE(absolute.empty());
    EXPECT_TRUE(IsAbsolutePath(absolute)) << absolute;
    EXPECT_EQ(ExtractFileName(absolute), "sub");
    EXPECT_EQ(AbsolutePath("/x/y"), "/x/y");
#ifdef _WIN32
    EXPECT_EQ(AbsolutePath("D:\\x"), "D:\\x");
    EXPECT_EQ(AbsolutePath("\\\\server\\share"), "\\\\server\\share");
#endif
}

TEST(ArchiveNaming, GeneratedNameMovesToTheNextFreeMinute) {
    TTempDir dir;
    // The platform's separator is added; one already there stays.
    const auto in = [&](const std::string& name) { return dir.Path() + PathDelimiter + name; };
    EXPECT_EQ(GenerateArchiveName(dir.Path(), Stamp2315, true),
              in("Backup_20240131_2315_full.fbk"));
    EXPECT_EQ(GenerateArchiveName(dir.Path() + "/", Stamp2315, false),
              dir / "Backup_20240131_2315.fbk");

    // Either kind occupies the minute; the search crosses the end of the day.
    dir.WriteFile("Backup_20240131_2315.fbk", "");
    dir.WriteFile("Backup_20240131_2316_full.fbk", "");
    dir.MakeDir("Backup_20240131_2317.fbk");
    dir.WriteFile("Backup_20240131_2359_full.fbk", "");
    EXPECT_EQ(GenerateArchiveName(dir.Path(), Stamp2315, true),
              in("Backup_20240131_2318_full.fbk"));
    EXPECT_EQ(GenerateArchiveName(dir.Path(), EncodeDateTime(2024, 1, 31, 23, 59, 59, 999), false),
              in("Backup_20240201_0000.fbk"));
}

TEST(ArchiveSpace, ByteCountsGroupThousands) {
    const char decimal = UserLocale().DecimalSeparator();
    const std::string group = decimal == ',' ? "\xC2\xA0" : ",";
    EXPECT_EQ(FormatByteCount(0), std::string("0") + decimal + "00");
    EXPECT_EQ(FormatByteCount(999.5), std::string("999") + decimal + "50");
    EXPECT_EQ(FormatByteCount(1234567.126), "1" + group + "234" + group + "567" + decimal + "13");
    EXPECT_EQ(TempSpaceMessage("/data", 1000),
              "Není dostatek místa pro dočasné soubory na disku '/data'! Uvolněte alespoň 1" +
                  group + "000" + decimal + "00 bytů.");
}

TEST(ProgressObject, RelaysAndTurnsAbortIntoTerminate) {
    std::vector<int32_t> seen;
    bool stopAt50 = false;
    TProgressObject progress([&](int32_t percent, bool& abort) {
        seen.push_back(percent);
        abort = stopAt50 && percent == 50;
    });
    progress.ZipTotalProgress(nullptr, 10, 7);
    progress.ZipTotalProgress(nullptr, 0, -1);
    EXPECT_FALSE(progress.StopRequested());
    stopAt50 = true;
    try {
        progress.ZipTotalProgress(nullptr, 10, 50);
        FAIL() << "no stop";
    } catch (const Exception& error) {
        EXPECT_STREQ(error.what(), "Terminate backup");
    }
    EXPECT_TRUE(progress.StopRequested());
    progress.Finish();
    EXPECT_EQ(seen, (std::vector<int32_t>{0, 7, -1, 50, 100}));
}

// Failures decided before the engine is involved.
class BackupJobEarly : public ::testing::Test {
protected:
    void SetUp() override { SetOverwriteConfirmation({}); }
    void TearDown() override { SetOverwriteConfirmation({}); }

    bool Run(const std::string& destination, bool ask, bool overwrite) {
        return DoBackup({FDir / "src"}, destination, true, ask, {}, overwrite);
    }

    TTempDir FDir;
    TManualClock FClock{Stamp2315};
    TScopedClock FScopedClock{FClock};
};

TEST_F(BackupJobEarly, ExistingArchiveWithoutPermissionIsKept) {
    const std::string archive = FDir.WriteFile("old.fbk", "old");
    std::string question;
    SetOverwriteConfirmation([&](const std::string& text) {
        question = text;
        return false;
    });
    EXPECT_FALSE(Run(archive, true, true));
    EXPECT_EQ(LastMessage(), "Záloha skončila neúspěsně.");
    EXPECT_EQ(question, "Soubor zálohy '" + archive + "' již existuje. Chcete jej přepsat?");

    SetOverwriteConfirmation({});
    EXPECT_FALSE(Run(archive, true, true));
    EXPECT_EQ(LastMessage(), "Záloha skončila neúspěsně.");

    EXPECT_FALSE(Run(archive, false, false));
    EXPECT_EQ(LastMessage(),
              "Soubor zálohy '" + archive + "' již existuje. Záloha skončila neúspěšně.");
    EXPECT_EQ(test::ReadWholeFile(archive), "old");
    EXPECT_EQ(RunningJobs.load(), 0);
}

TEST_F(BackupJobEarly, DirectoryThatCannotBeCreated) {
    FDir.WriteFile("file", "");
    EXPECT_FALSE(Run(FDir / "file", false, true));  // exists, but not as a directory
    EXPECT_EQ(LastMessage(), "Chyba vytvoření složky pro zálohování '" + (FDir / "file") + "'.");

    TScopedFault fault(FailUnder(FDir / "denied", TFileOperation::MakeDirectory, EACCES));
    EXPECT_FALSE(Run(FDir / "denied/", false, true));
    EXPECT_EQ(LastMessage(), "Chyba vytvoření složky pro zálohování '" + (FDir / "denied/") + "'.");
    EXPECT_EQ(RunningJobs.load(), 0);
}

TEST_F(BackupJobEarly, ErrorsOutsideTheBuildReachTheCallerWithoutText) {
    EXPECT_THROW(Run("", false, true), EOSError);
    EXPECT_EQ(LastMessage(), "");
    EXPECT_EQ(RunningJobs.load(), 0);
    // An archive name in a directory that does not exist: no temporary file can be made there.
    EXPECT_THROW(Run(FDir / "missing/archive.fbk", false, true), EOSError);
    EXPECT_EQ(RunningJobs.load(), 0);
}

TEST_F(BackupJobEarly, RunningJobRefusesASecond) {
    RunningJobs = 1;
    EXPECT_FALSE(Run(FDir / "out", false, true));
    EXPECT_EQ(LastMessage(), "Sejfko právě probíhá.");
    EXPECT_EQ(RunningJobs.load(), 1);
    RunningJobs = 0;
    EXPECT_FALSE(DirectoryExists(FDir / "out"));
}

}  // namespace
}  // namespace sejfko
