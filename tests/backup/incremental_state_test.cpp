#include "backup/incremental_state.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "backup/update_batch.hpp"
#include "platform/dos_time.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::ReadWholeFile;
using test::TTempDir;

constexpr int32_t OldStamp = 0x58213000;
constexpr int32_t NewStamp = 0x58214000;

uint32_t CrcOf(const std::string& path) {
    uint32_t crc = 0;
    uint16_t error = 0;
    FileCrc32(path, crc, error);
    EXPECT_EQ(error, 0) << path;
    return crc;
}

std::vector<std::string> Names(const TExpandedFileList& files) {
    std::vector<std::string> names;
    for (const TExpandedFile& file : files) {
        names.push_back(file.Name);
    }
    return names;
}

std::vector<std::string> Records(const TFileList& list) {
    std::vector<std::string> records;
    TFileItem item;
    for (int i = 0; i < list.Count(); ++i) {
        list.GetItem(i, item);
        records.push_back(item.Name + " " + std::to_string(item.Stamp) + " " +
                          std::to_string(item.Crc));
    }
    return records;
}

std::string Record(const std::string& name, int32_t stamp, uint32_t crc) {
    return name + " " + std::to_string(stamp) + " " + std::to_string(crc);
}

class SelectChangedFilesTest : public testing::Test {
protected:
    void TearDown() override { DeleteUpdateBatch(); }

    TTempDir Dir;
    TFileList OldState;
    TFileList NewState;
};

TEST_F(SelectChangedFilesTest, EditedAddedAndDeletedFiles) {
    const std::string same = Dir.WriteFile("same.txt", "same");
    const std::string edited = Dir.WriteFile("edited.txt", "new content");
    const std::string added = Dir.WriteFile("added.txt", "added");
    const std::string deleted = Dir / "deleted.txt";
    OldState.Add(same, OldStamp, CrcOf(same));
    OldState.Add(deleted, OldStamp, 12345);
    OldState.Add(edited, OldStamp, 999);

    TExpandedFileList files{{same, OldStamp, 4}, {edited, NewStamp, 11}, {added, NewStamp, 5}};
    EXPECT_TRUE(SelectChangedFiles(OldState, files, NewState, nullptr));

    const std::string batch = UpdateBatchPath();
    EXPECT_EQ(Names(files), (std::vector<std::string>{edited, added, batch}));
    EXPECT_EQ(files[1].Stamp, NewStamp);
    const TFileStatus status = GetFileStatus(batch);
    EXPECT_EQ(files[2].Stamp, UnixTimeToFileDate(status.ModifiedSeconds));
    EXPECT_EQ(files[2].Size, status.Size);
#ifdef _WIN32
    EXPECT_EQ(ReadWholeFile(batch), WindowsUpdateBatchLine(deleted) + "\r\n");
#else
    EXPECT_EQ(ReadWholeFile(batch), "rm -f -- '" + deleted.substr(1) + "'\n");
#endif

    EXPECT_EQ(Records(NewState), (std::vector<std::string>{Record(same, OldStamp, CrcOf(same)),
                                                           Record(edited, NewStamp, CrcOf(edited)),
                                                           Record(added, NewStamp, CrcOf(added))}));
    // What is left of the old state are the files no longer selected.
    EXPECT_EQ(Records(OldState), std::vector<std::string>{Record(deleted, OldStamp, 12345)});
}

TEST_F(SelectChangedFilesTest, TouchedFileKeepsItsOldRecordAndIsNotArchived) {
    const std::string touched = Dir.WriteFile("touched.txt", "unchanged");
    OldState.Add(touched, OldStamp, CrcOf(touched));
    TExpandedFileList files{{touched, NewStamp, 9}};
    EXPECT_FALSE(SelectChangedFiles(OldState, files, NewState, nullptr));
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(Records(NewState),
              std::vector<std::string>{Record(touched, OldStamp, CrcOf(touched))});
    EXPECT_FALSE(FileExists(UpdateBatchPath()));
}

// Nothing counts as saved that is not in an archive: the stored record stays until a run reads
// the file again; a new file gets no record.
TEST_F(SelectChangedFilesTest, UnreadableFileIsArchivedAndKeepsItsOldRecord) {
    const std::string changed = Dir.WriteFile("locked/changed.txt", "x");
    const std::string fresh = Dir.WriteFile("locked/new.txt", "y");
    const std::string unchanged = Dir.WriteFile("locked/unchanged.txt", "z");
    OldState.Add(changed, OldStamp, 1);
    OldState.Add(unchanged, OldStamp, 2);
    TExpandedFileList files{{changed, NewStamp, 1}, {fresh, NewStamp, 1}, {unchanged, OldStamp, 1}};
    {
        TScopedFault fault(FailUnder(Dir / "locked", TFileOperation::OpenRead, EACCES));
        EXPECT_FALSE(SelectChangedFiles(OldState, files, NewState, nullptr));
    }
    EXPECT_EQ(Names(files), (std::vector<std::string>{changed, fresh}));
    // The unchanged file needs no reading: its record is carried over.
    EXPECT_EQ(Records(NewState), (std::vector<std::string>{Record(changed, OldStamp, 1),
                                                           Record(unchanged, OldStamp, 2)}));
    EXPECT_EQ(OldState.Count(), 0);
}

TEST_F(SelectChangedFilesTest, NamesWithLineEndsAreArchivedEveryTimeButNeverRecorded) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows names cannot hold CR or LF";
#endif
    const std::string lf = Dir.WriteFile("two\nlines", "a");
    const std::string cr = Dir.WriteFile("carriage\rreturn", "b");
    TExpandedFileList files{{lf, OldStamp, 1}, {cr, OldStamp, 1}};
    EXPECT_FALSE(SelectChangedFiles(OldState, files, NewState, nullptr));
    EXPECT_EQ(Names(files), (std::vector<std::string>{lf, cr}));
    EXPECT_EQ(NewState.Count(), 0);

    BuildFileState(NewState, TExpandedFileList{{lf, OldStamp, 1}}, nullptr);
    EXPECT_EQ(NewState.Count(), 0);
}

TEST_F(SelectChangedFilesTest, SameFileTwiceIsComparedOnceAndThenNew) {
    // Overlapping include entries give a file twice: the second is not in the old state any more.
    const std::string file = Dir.WriteFile("f", "f");
    OldState.Add(file, OldStamp, CrcOf(file));
    TExpandedFileList files{{file, OldStamp, 1}, {file, OldStamp, 1}};
    EXPECT_FALSE(SelectChangedFiles(OldState, files, NewState, nullptr));
    EXPECT_EQ(Names(files), std::vector<std::string>{file});
    EXPECT_EQ(NewState.Count(), 2);
}

TEST_F(SelectChangedFilesTest, CancelLeavesTheRestForTheCaller) {
    const std::string a = Dir.WriteFile("a", "a");
    const std::string b = Dir.WriteFile("b", "b");
    OldState.Add(Dir / "gone", OldStamp, 1);
    TExpandedFileList files{{a, OldStamp, 1}, {b, OldStamp, 1}};
    int asked = 0;
    EXPECT_FALSE(SelectChangedFiles(OldState, files, NewState,
                                    [&asked](bool& abort) { abort = ++asked == 2; }));
    EXPECT_EQ(Names(files), std::vector<std::string>{b});
    EXPECT_FALSE(FileExists(UpdateBatchPath()));
}

TEST_F(SelectChangedFilesTest, UnwritableDeletionListRaises) {
    OldState.Add(Dir / "gone", OldStamp, 1);
    TExpandedFileList files;
    TScopedFault fault(
        FailUnder(ExtractFileDir(UpdateBatchPath()), TFileOperation::Create, ENOSPC));
    EXPECT_THROW(SelectChangedFiles(OldState, files, NewState, nullptr), EOSError);
}

// A link's record is the checksum of its target text, never of what it points to: a retargeted
// link is archived, one made again with the same target is only touched, and a file that became
// a link whose target is the file's very content is still a change.
TEST_F(SelectChangedFilesTest, LinksAreComparedByTheirTargetText) {
#ifdef _WIN32
    GTEST_SKIP() << "this build neither reads nor makes symbolic links";
#endif
    Dir.WriteFile("a.txt", "a");
    Dir.WriteFile("b.txt", "b");
    const std::string retargeted = Dir / "retargeted";
    const std::string touched = Dir / "touched";
    const std::string became = Dir / "became";
    const std::string dangling = Dir / "dangling";
    ASSERT_EQ(::symlink("a.txt", retargeted.c_str()), 0);
    ASSERT_EQ(::symlink("a.txt", touched.c_str()), 0);
    Dir.WriteFile("became", "a.txt");
    TFileList built;
    BuildFileState(built,
                   {{retargeted, OldStamp, 5, true},
                    {touched, OldStamp, 5, true},
                    {became, OldStamp, 5},
                    {dangling, OldStamp, 7, true}},
                   nullptr);
    // The dangling link does not exist yet: no record, as for an unreadable file.
    ASSERT_EQ(built.Count(), 3);
    TFileItem item;
    for (int i = 0; i < built.Count(); ++i) {
        built.GetItem(i, item);
        OldState.Add(item.Name, item.Stamp, item.Crc);
    }

    ASSERT_TRUE(DeleteFile(retargeted));
    ASSERT_EQ(::symlink("b.txt", retargeted.c_str()), 0);
    ASSERT_TRUE(DeleteFile(became));
    ASSERT_EQ(::symlink("a.txt", became.c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", dangling.c_str()), 0);
    TExpandedFileList files{{retargeted, NewStamp, 5, true},
                            {touched, NewStamp, 5, true},
                            {became, NewStamp, 5, true},
                            {dangling, NewStamp, 7, true}};
    EXPECT_FALSE(SelectChangedFiles(OldState, files, NewState, nullptr));
    EXPECT_EQ(Names(files), (std::vector<std::string>{retargeted, became, dangling}));
    for (const TExpandedFile& file : files) {
        EXPECT_TRUE(file.Link) << file.Name;
    }
    ASSERT_EQ(NewState.Count(), 4);
    NewState.GetItem(1, item);
    EXPECT_EQ(item.Stamp, OldStamp);  // only touched
    NewState.GetItem(3, item);
    EXPECT_EQ(item.Stamp, NewStamp);  // dangling links are recorded like any other

    // A link that is gone is a deletion, even one whose target never existed.
    TFileList next;
    for (int i = 0; i < NewState.Count(); ++i) {
        NewState.GetItem(i, item);
        next.Add(item.Name, item.Stamp, item.Crc);
    }
    TExpandedFileList again{{dangling, OldStamp, 7, true}};
    ASSERT_TRUE(DeleteFile(dangling));
    TFileList after;
    EXPECT_TRUE(SelectChangedFiles(next, again, after, nullptr));
    EXPECT_EQ(Names(again), std::vector<std::string>{UpdateBatchPath()});
    EXPECT_NE(ReadWholeFile(UpdateBatchPath()).find(dangling.substr(1)), std::string::npos);
}

TEST(BuildFileStateTest, RecordsReadableFilesInOrder) {
    TTempDir dir;
    const std::string b = dir.WriteFile("b", "bravo");
    const std::string a = dir.WriteFile("a", "alpha");
    const std::string locked = dir.WriteFile("locked", "l");
    TFileList state;
    state.Add("stale", 1, 1);
    {
        TScopedFault fault(FailUnder(locked, TFileOperation::OpenRead, EACCES));
        BuildFileState(state, {{b, 7, 5}, {locked, 8, 1}, {dir / "missing", 9, 0}, {a, -3, 5}},
                       nullptr);
    }
    EXPECT_EQ(Records(state),
              (std::vector<std::string>{Record(b, 7, CrcOf(b)), Record(a, -3, CrcOf(a))}));

    int asked = 0;
    BuildFileState(state, {{a, 1, 5}, {b, 2, 5}}, [&asked](bool& abort) { abort = ++asked == 2; });
    EXPECT_EQ(Records(state), std::vector<std::string>{Record(a, 1, CrcOf(a))});
}

}  // namespace
}  // namespace sejfko
