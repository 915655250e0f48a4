#include "platform/file_system.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <ostream>

#include "platform/exceptions.hpp"
#include "platform/fault_injection.hpp"
#include "platform/temp_file.hpp"
#include "support/disk_usage.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::OnDiskSize;
using test::SameVolume;

using test::ReadWholeFile;
using test::TTempDir;

TEST(ListDirectory, EveryEntrySortedByBytesWithKindsAndSymlinkTargets) {
    TTempDir dir;
    dir.WriteFile("b", "bb");
    dir.WriteFile(".hidden", "h");
    dir.WriteFile("Z", "");
    dir.WriteFile("\xC3\xA9", "e");  // bytes above ASCII sort last
    dir.WriteFile("sub/inner", "12345");
    ASSERT_EQ(::symlink("b", (dir / "link-file").c_str()), 0);
    ASSERT_EQ(::symlink("sub", (dir / "link-dir").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "link-dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    struct timespec times[2] = {{0, UTIME_OMIT}, {946684800, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "b").c_str(), times, 0), 0);

    std::vector<TDirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(dir.Path(), entries));
    struct TExpected {
        const char* Name;
        TEntryKind Kind;
        TEntryKind Target;
        int64_t Size;
    };
    const TExpected expected[] = {
        {".hidden", TEntryKind::Regular, TEntryKind::Regular, 1},
        {"Z", TEntryKind::Regular, TEntryKind::Regular, 0},
        {"b", TEntryKind::Regular, TEntryKind::Regular, 2},
        {"fifo", TEntryKind::Other, TEntryKind::Other, 0},
        {"link-dangling", TEntryKind::Symlink, TEntryKind::Missing, 0},
        {"link-dir", TEntryKind::Symlink, TEntryKind::Directory, -1},
        {"link-file", TEntryKind::Symlink, TEntryKind::Regular, 2},
        {"sub", TEntryKind::Directory, TEntryKind::Directory, -1},
        {"\xC3\xA9", TEntryKind::Regular, TEntryKind::Regular, 1},
    };
    ASSERT_EQ(entries.size(), std::size(expected));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].Name, expected[i].Name);
        EXPECT_EQ(entries[i].Kind, expected[i].Kind) << entries[i].Name;
        EXPECT_EQ(entries[i].Target, expected[i].Target) << entries[i].Name;
        if (expected[i].Size >= 0) {
            EXPECT_EQ(entries[i].Size, expected[i].Size) << entries[i].Name;
        }
    }
    EXPECT_EQ(entries[2].ModifiedSeconds, 946684800);
    EXPECT_EQ(entries[6].ModifiedSeconds, 946684800);  // of the target
}

TEST(ListDirectory, FailuresReportTheErrorAndNoEntries) {
    TTempDir dir;
    dir.WriteFile("file", "");
    std::vector<TDirectoryEntry> entries{{"stale"}};
    int error = 0;
    EXPECT_FALSE(ListDirectory(dir / "missing", entries, &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_TRUE(entries.empty());
    EXPECT_FALSE(ListDirectory(dir / "file", entries, &error));
    EXPECT_EQ(error, ENOTDIR);
    TScopedFault fault(FailUnder(dir.Path(), TFileOperation::ListDirectory, EACCES));
    EXPECT_FALSE(ListDirectory(dir.Path(), entries, &error));
    EXPECT_EQ(error, EACCES);
}

struct TPathCase {
    const char* Path;
    const char* Included;
    const char* Excluded;
    const char* Dir;
    const char* Name;
};
// Keeps test names short when the test runner lists the cases.
void PrintTo(const TPathCase& c, std::ostream* out) {
    *out << c.Path;
}

class PathHelpers : public ::testing::TestWithParam<TPathCase> {};

TEST_P(PathHelpers, SplitAndDelimit) {
    const TPathCase& c = GetParam();
    EXPECT_EQ(IncludeTrailingPathDelimiter(c.Path), c.Included);
    EXPECT_EQ(ExcludeTrailingPathDelimiter(c.Path), c.Excluded);
    EXPECT_EQ(ExtractFileDir(c.Path), c.Dir);
    EXPECT_EQ(ExtractFileName(c.Path), c.Name);
}

INSTANTIATE_TEST_SUITE_P(Table, PathHelpers,
                         ::testing::Values(TPathCase{"/a/b.txt", "/a/b.txt/", "/a/b.txt", "/a",
                                                     "b.txt"},
                                           TPathCase{"/a/", "/a/", "/a", "/a", ""},
                                           TPathCase{"/b.txt", "/b.txt/", "/b.txt", "/", "b.txt"},
                                           TPathCase{"/", "/", "/", "/", ""},
                                           TPathCase{"b.txt", "b.txt/", "b.txt", "", "b.txt"},
                                           TPathCase{"", "/", "", "", ""}));

TEST(Volume, FreeSpaceAndSparseFiles) {
    TTempDir dir;
    EXPECT_GT(FreeSpace(dir.Path()), 0);
    // A destination that does not exist yet is measured on its nearest existing parent.
    EXPECT_GT(FreeSpace(dir / "not/yet"), 0);

    const std::string sparse = dir / "sparse";
    const int handle = ::open(sparse.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(handle, 0);
    ASSERT_EQ(::ftruncate(handle, 1 << 30), 0);
    ASSERT_EQ(::pwrite(handle, "x", 1, 4096), 1);
    ::close(handle);
    EXPECT_GT(OnDiskSize(sparse), 0);
    EXPECT_LT(OnDiskSize(sparse), 1 << 20);
    const std::string dense = dir.WriteFile("dense", std::string(1 << 20, 'd'));
    EXPECT_GE(OnDiskSize(dense), 1 << 20);
    EXPECT_EQ(OnDiskSize(dir / "missing"), -1);
}

TEST(ForceDirectories, CreatesMissingParentsPrivately) {
    TTempDir dir;
    ForceDirectories(dir / "a/b/c/");
    EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "a/b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ForceDirectories(dir / "a/b/c");  // existing: nothing to do

    dir.WriteFile("file", "");
    try {
        ForceDirectories(dir / "file/sub");
        FAIL() << "no exception";
    } catch (const EOSError& error) {
        EXPECT_EQ(error.Code, ENOTDIR);
    }
    TScopedFault fault(FailUnder(dir / "x", TFileOperation::MakeDirectory, EROFS));
    try {
        ForceDirectories(dir / "x/y");
        FAIL() << "no exception";
    } catch (const EOSError& error) {
        EXPECT_EQ(error.Code, EROFS);
        EXPECT_NE(std::string(error.what()).find(dir / "x"), std::string::npos);
    }
}

TEST(DeleteFile, RemovesAndReportsWhatFails) {
    TTempDir dir;
    const std::string file = dir.WriteFile("f", "");
    int error = 0;
    {
        TScopedFault fault(FailUnder(file, TFileOperation::Remove, EPERM));
        EXPECT_FALSE(DeleteFile(file, &error));
        EXPECT_EQ(error, EPERM);
        EXPECT_TRUE(FileExists(file));
    }
    EXPECT_TRUE(DeleteFile(file));
    EXPECT_FALSE(FileExists(file));
    EXPECT_FALSE(DeleteFile(file, &error));
    EXPECT_EQ(error, ENOENT);
}

// A hook that makes the first rename onto `target` look like a move across volumes, and then
// optionally fails `operation`.
TFaultHook CrossVolume(const std::string& target, TFileOperation operation = TFileOperation::Lock,
                       int error = 0) {
    auto first = std::make_shared<bool>(true);
    return [=](TFileOperation op, const std::string& path) {
        if (op == TFileOperation::Rename && path == target && *first) {
            *first = false;
            return EXDEV;
        }
        return op == operation ? error : 0;
    };
}

void ExpectCopiedWithAttributes(const std::string& target, const std::string& content) {
    EXPECT_EQ(ReadWholeFile(target), content);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtime, 1000000000);
}

std::string SourceFile(const TTempDir& dir, const std::string& content) {
    const std::string source = dir.WriteFile("Backup.fbk", content);
    ::chmod(source.c_str(), 0640);
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, source.c_str(), times, 0);
    return source;
}

TEST(MoveFile, RenamesReplacingTheTarget) {
    TTempDir dir;
    const std::string source = SourceFile(dir, "new");
    const std::string target = dir.WriteFile("dest/Backup.fbk", "old");
    MoveFile(source, target);
    EXPECT_FALSE(FileExists(source));
    ExpectCopiedWithAttributes(target, "new");
}

TEST(MoveFile, CopiesAcrossVolumes) {
    TTempDir dir;
    const std::string content(3 << 20, 'c');
    const std::string target = dir.WriteFile("dest/Backup.fbk", "old");
    {
        const std::string source = SourceFile(dir, content);
        TScopedFault fault(CrossVolume(target));
        MoveFile(source, target);
        EXPECT_FALSE(FileExists(source));
        ExpectCopiedWithAttributes(target, content);
    }
    // And for real, when a second file system is at hand.
    if (SameVolume(dir.Path(), "/dev/shm") || !DirectoryExists("/dev/shm")) {
        GTEST_SKIP() << "/dev/shm is not a separate volume here";
    }
    const std::string source = SourceFile(dir, content);
    const std::string shm = CreatePrivateTempDirectory("/dev/shm", ".sejfko-test-");
    const std::string elsewhere = shm + "/Backup.fbk";
    MoveFile(source, elsewhere);
    EXPECT_FALSE(FileExists(source));
    ExpectCopiedWithAttributes(elsewhere, content);
    ::unlink(elsewhere.c_str());
    ::rmdir(shm.c_str());
}

struct TMoveFault {
    TFileOperation Operation;
    int Error;
    bool TargetReplaced;  // only a failure after the rename into place leaves the new target
};
// Keeps test names short when the test runner lists the cases.
void PrintTo(const TMoveFault& c, std::ostream* out) {
    *out << static_cast<int>(c.Operation);
}

class MoveFileFault : public ::testing::TestWithParam<TMoveFault> {};

TEST_P(MoveFileFault, SourceStaysAndTargetIsOldOrComplete) {
    TTempDir dir;
    const std::string source = SourceFile(dir, std::string(200000, 's'));
    const std::string target = dir.WriteFile("dest/Backup.fbk", "old");
    {
        TScopedFault fault(GetParam().Error == EXDEV
                               ? CrossVolume(target, GetParam().Operation, EIO)
                               : FailUnder(target, GetParam().Operation, GetParam().Error));
        EXPECT_THROW(MoveFile(source, target), EOSError);
    }
    EXPECT_EQ(ReadWholeFile(source), std::string(200000, 's'));
    EXPECT_EQ(ReadWholeFile(target), GetParam().TargetReplaced ? std::string(200000, 's') : "old");
    std::vector<TDirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(dir / "dest", entries));
    EXPECT_EQ(entries.size(), 1u);  // no temporary left behind
}

INSTANTIATE_TEST_SUITE_P(
    Seam, MoveFileFault,
    ::testing::Values(TMoveFault{TFileOperation::Rename, EACCES, false},
                      // The rest fail the copy that follows a rename refused with EXDEV.
                      TMoveFault{TFileOperation::OpenRead, EXDEV, false},
                      TMoveFault{TFileOperation::Read, EXDEV, false},
                      TMoveFault{TFileOperation::Create, EXDEV, false},
                      TMoveFault{TFileOperation::Write, EXDEV, false},
                      TMoveFault{TFileOperation::Rename, EXDEV, false},
                      TMoveFault{TFileOperation::Remove, EXDEV, true}));

}  // namespace
}  // namespace sejfko
