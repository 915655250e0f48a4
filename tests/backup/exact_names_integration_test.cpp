// Names the program found itself reach the archive and the state byte for byte: blanks and
// control characters at their ends, "*" and "?", paths longer than the engine's callback text.
// A file that is missing from an archive keeps the record of the version that is in one.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "backup/backup_run_fixture.hpp"
#include "backup/update_batch.hpp"
#include "platform/dos_time.hpp"
#include "platform/fault_injection.hpp"

namespace sejfko {
namespace {

using namespace test;

// A path of about 600 bytes below `top` (every component within the usual 255-byte limit).
std::string LongRelative(const std::string& leaf) {
    return std::string(200, 'd') + "/" + std::string(200, 'e') + "/" + std::string(190, 'f') + "/" +
           leaf;
}

class ExactNamesTest : public BackupRunTest {
protected:
    void SetUp() override {
        BackupRunTest::SetUp();
        Options.SetBackupKind(bkIncWeek);
    }

    TFileItem RecordOf(const std::string& name) const {
        for (const TFileItem& item : State()) {
            if (item.Name == name) {
                return item;
            }
        }
        ADD_FAILURE() << "no record of " << name;
        return {};
    }

    std::string DeletionList(const std::string& archive) const {
        TZipReader reader;
        reader.Open(archive);
        std::string text;
        for (const TZipDirEntry& entry : reader.Entries()) {
            if (entry.Name == UpdateBatchName) {
                reader.ExtractTo(
                    entry, [&](const char* data, std::size_t size) { text.append(data, size); });
            }
        }
        return text;
    }

    // Deletes `victims` as soon as the archive job reports progress past its first file.
    void DeleteDuringTheJob(const std::vector<std::string>& victims) {
        Sink.OnPost = [this, victims](const TRecordingSink::TPost& post) {
            if (!FDeleted && post.Message == WM_BACKUP_STATUS && post.WParam == bsArchiveProgress &&
                post.LParam > 0) {
                FDeleted = true;
                for (const std::string& victim : victims) {
                    ::unlink(victim.c_str());
                }
            }
        };
    }
    bool FDeleted = false;
};

TEST_F(ExactNamesTest, ChangedFilesWithAwkwardNamesAreArchivedUnderTheirExactNames) {
    const std::vector<std::string> awkward = {"notes ", "tab\t", "line end\n", " leading", "a?c",
                                              "st*r",   "100%",  "it's \"q\"", "\xff\xfe"};
    for (const std::string& name : awkward) {
        Source(name, "first " + name, 1);
    }
    Source("abc", "matches a?c as a pattern", 1);
    Source("stair", "matches st*r as a pattern", 1);
    const std::string deep = Source(LongRelative("long name "), "deep", 1);
    RunOn(8);  // complete
    ASSERT_EQ(StoredNames(Dir / "out/" + ArchiveOf(8, true)).size(), awkward.size() + 3);

    Names expected;
    for (const std::string& name : awkward) {
        expected.push_back(Stored(Source(name, "second " + name, 9)));
    }
    expected.push_back(Stored(Source(LongRelative("long name "), "deeper", 9)));
    std::sort(expected.begin(), expected.end());
    RunOn(9);
    EXPECT_EQ(StoredNames(Dir / "out/" + ArchiveOf(9, false)), expected) << LastMessage();
    EXPECT_EQ(LastMessage(), "Záloha byla úspěšně dokončena.");
    const int32_t tuesday = UnixTimeToFileDate(LocalSeconds(2024, 1, 9, 10, 0, 0));
    EXPECT_EQ(RecordOf(Dir / "src/notes ").Stamp, tuesday);
    EXPECT_EQ(RecordOf(deep).Stamp, tuesday);
}

TEST_F(ExactNamesTest, ACompleteRunTakesASelectedFileByItsNameNotAsAPattern) {
    Options.SetBackupKind(bkFull);
    const std::string file = Source("a?c", "the file the user chose");
    Source("abc", "another file");
    Dir.WriteFile("data/selection.txt", file + "\n");
    RunOn(8);
    EXPECT_EQ(StoredNames(Dir / "out/" + ArchiveOf(8, true)), Names{Stored(file)});
}

// A changed file that vanishes while the job runs is not in the archive: its record stays the
// one of the archived version, so the next run lists it as deleted and a restore of any later
// point does not bring the older version back. Long names and names ending in a blank are
// matched by their whole names.
TEST_F(ExactNamesTest, AChangedFileDeletedDuringTheJobKeepsItsRecordAndIsThenListedAsDeleted) {
    Source("0 first.bin", RandomBytes(1 << 20), 1);  // archived first, so progress starts early
    const std::string blank = Source("goes away ", "one", 1);
    const std::string deep = Source(LongRelative("goes away too"), "one", 1);
    RunOn(8);
    const TFileItem blankBefore = RecordOf(blank);
    const TFileItem deepBefore = RecordOf(deep);

    Source("0 first.bin", RandomBytes(1 << 20) + "changed", 9);
    Source("goes away ", "two", 9);
    Source(LongRelative("goes away too"), "two", 9);
    DeleteDuringTheJob({blank, deep});
    RunOn(9);
    Sink.OnPost = nullptr;
    ASSERT_TRUE(FDeleted);
    EXPECT_EQ(StoredNames(Dir / "out/" + ArchiveOf(9, false)),
              Names{Stored(Dir / "src/0 first.bin")});
    EXPECT_EQ(RecordOf(blank).Crc, blankBefore.Crc);
    EXPECT_EQ(RecordOf(blank).Stamp, blankBefore.Stamp);
    EXPECT_EQ(RecordOf(deep).Crc, deepBefore.Crc);

    RunOn(10);
    const std::string list = DeletionList(Dir / "out/" + ArchiveOf(10, false));
    // In the state's order, which is the scan's: "d..." before "g...".
    EXPECT_EQ(list, PosixUpdateBatchLine(deep) + "\n" + PosixUpdateBatchLine(blank) + "\n");
    EXPECT_EQ(StateNames(), Names{Dir / "src/0 first.bin"});
}

// The scan saw the file, but it is gone when its checksum is taken: a deletion, not a file to
// forget.
TEST_F(ExactNamesTest, AStoredFileGoneBeforeItsChecksumIsListedAsDeleted) {
    const std::string kept = Source("kept.txt", "stays", 1);
    const std::string gone = Source("gone.txt", "one", 1);
    RunOn(8);
    Source("gone.txt", "two", 9);
    {
        TScopedFault vanish([&](TFileOperation operation, const std::string& path) {
            if (operation == TFileOperation::OpenRead && path == gone) {
                ::unlink(gone.c_str());
                return ENOENT;
            }
            return 0;
        });
        RunOn(9);
    }
    EXPECT_EQ(StoredNames(Dir / "out/" + ArchiveOf(9, false)), Names{UpdateBatchName});
    EXPECT_EQ(DeletionList(Dir / "out/" + ArchiveOf(9, false)), PosixUpdateBatchLine(gone) + "\n");
    EXPECT_EQ(StateNames(), Names{kept});
}

// An unreadable file that still exists is tried by every run until it is archived; meanwhile
// the state keeps the version that is in an archive.
TEST_F(ExactNamesTest, AStoredFileThatCannotBeReadKeepsItsRecordUntilItIsArchived) {
    const std::string locked = Source("locked.txt", "one", 1);
    RunOn(8);
    const TFileItem before = RecordOf(locked);
    Source("locked.txt", "two", 9);
    {
        TScopedFault fault(FailUnder(locked, TFileOperation::OpenRead, EACCES));
        RunOn(9);
    }
    EXPECT_EQ(RecordOf(locked).Crc, before.Crc);
    RunOn(10);
    EXPECT_EQ(StoredNames(Dir / "out/" + ArchiveOf(10, false)), Names{Stored(locked)});
    EXPECT_NE(RecordOf(locked).Crc, before.Crc);
}

}  // namespace
}  // namespace sejfko
