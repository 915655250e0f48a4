// Writing and deleting confined to one tree: symlinks on the way are never followed, files
// appear only whole, zero runs become holes.

#include "platform/confined_directory.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/exceptions.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "support/disk_usage.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::OnDiskSize;
using test::SameVolume;

using test::ReadWholeFile;
using test::TTempDir;

void WriteWhole(TConfinedDirectory& root, const std::string& relative, const std::string& data,
                unsigned mode = 0644) {
    TConfinedFileWriter writer(root, relative);
    writer.Write(data.data(), data.size());
    writer.Commit(mode, std::timespec{1700000000, 0});
}

int ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EOSError& error) {
        return error.Code;
    }
    return 0;
}

TEST(ConfinedDirectory, WritesWithParentsModeAndTime) {
    TTempDir dir;
    TConfinedDirectory root(dir.Path());
    WriteWhole(root, "a/b/c.txt", "obsah", 0640);
    EXPECT_EQ(ReadWholeFile(dir / "a/b/c.txt"), "obsah");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "a/b/c.txt").c_str(), &st), 0);
#ifndef _WIN32
    EXPECT_EQ(st.st_mode & 07777, 0640u);  // Windows keeps only a read-only flag
#endif
    EXPECT_EQ(st.st_mtime, 1700000000);
    // Replacing keeps only the new content; no temporary file is left.
    WriteWhole(root, "a/b/c.txt", "x");
    EXPECT_EQ(ReadWholeFile(dir / "a/b/c.txt"), "x");
    std::vector<TDirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(dir / "a/b", entries));
    EXPECT_EQ(entries.size(), 1u);
}

TEST(ConfinedDirectory, SymlinksOnTheWayAreNotFollowed) {
#ifdef _WIN32
    GTEST_SKIP() << "this build neither reads nor makes symbolic links";
#endif
    TTempDir outside;
    TTempDir dir;
    ASSERT_EQ(::symlink(outside.Path().c_str(), (dir / "link").c_str()), 0);
    dir.WriteFile("file", "f");
    TConfinedDirectory root(dir.Path());

    EXPECT_EQ(ErrorOf([&] { WriteWhole(root, "link/x.txt", "escaped"); }), ELOOP);
    EXPECT_EQ(ErrorOf([&] { WriteWhole(root, "file/x.txt", "x"); }), ENOTDIR);
    EXPECT_EQ(ErrorOf([&] { root.MakeDirectories("link/sub"); }), ELOOP);
    outside.WriteFile("victim", "keep");
    EXPECT_EQ(ErrorOf([&] { root.RemoveFile("link/victim"); }), ELOOP);
    EXPECT_EQ(ReadWholeFile(outside / "victim"), "keep");
    std::vector<TDirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(outside.Path(), entries));
    EXPECT_EQ(entries.size(), 1u);

    // The symlink itself is what a write or a deletion replaces, never its target.
    ASSERT_EQ(::symlink((outside / "victim").c_str(), (dir / "points-out").c_str()), 0);
    WriteWhole(root, "points-out", "new");
    EXPECT_EQ(ReadWholeFile(outside / "victim"), "keep");
    EXPECT_EQ(GetFileStatus(dir / "points-out", false).Kind, TEntryKind::Regular);
    ASSERT_EQ(::symlink((outside / "victim").c_str(), (dir / "points-out2").c_str()), 0);
    EXPECT_TRUE(root.RemoveFile("points-out2"));
    EXPECT_EQ(ReadWholeFile(outside / "victim"), "keep");
}

// A link is made with any target (it is data) and takes the place of a file, a link or an empty
// directory, never of a directory with entries; its parents are walked as for files.
TEST(ConfinedDirectory, SymlinksAreMadeInPlaceOfWhatWasThere) {
#ifdef _WIN32
    GTEST_SKIP() << "this build neither reads nor makes symbolic links";
#endif
    TTempDir outside;
    TTempDir dir;
    outside.WriteFile("victim", "keep");
    dir.WriteFile("file", "f");
    dir.WriteFile("full/x", "x");
    dir.MakeDir("empty");
    ASSERT_EQ(::symlink(outside.Path().c_str(), (dir / "out").c_str()), 0);
    TConfinedDirectory root(dir.Path());
    const std::timespec when{1600000000, 0};
    for (const char* name : {"file", "out", "empty", "new/deep/link"}) {
        root.MakeSymlink(name, outside / "victim", when);
        EXPECT_EQ(::access((dir / name).c_str(), F_OK), 0) << name;
        struct stat st {};
        ASSERT_EQ(::lstat((dir / name).c_str(), &st), 0) << name;
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
        EXPECT_EQ(st.st_mtime, when.tv_sec) << name;
    }
    root.MakeSymlink("rel", "../../..", std::nullopt);
    EXPECT_EQ(ErrorOf([&] { root.MakeSymlink("full", "x", std::nullopt); }), EISDIR);
    EXPECT_EQ(ReadWholeFile(dir / "full/x"), "x");
    EXPECT_EQ(ErrorOf([&] { root.MakeSymlink("out/through", "x", std::nullopt); }), ELOOP);
    EXPECT_EQ(ErrorOf([&] { root.MakeSymlink("../up", "x", std::nullopt); }), EINVAL);
    EXPECT_EQ(ErrorOf([&] { root.MakeSymlink("nul", std::string("a\0b", 3), std::nullopt); }),
              EINVAL);
    EXPECT_EQ(test::EntryNames(outside.Path()), std::vector<std::string>{"victim"});
    EXPECT_EQ(ReadWholeFile(outside / "victim"), "keep");
    // No temporary name is left behind.
    EXPECT_EQ(test::EntryNames(dir.Path()),
              (std::vector<std::string>{"empty", "file", "full", "new", "out", "rel"}));
    {
        TScopedFault fault(FailUnder(dir / "late", TFileOperation::Rename, ENOSPC));
        EXPECT_EQ(ErrorOf([&] { root.MakeSymlink("late", "x", std::nullopt); }), ENOSPC);
    }
    EXPECT_EQ(test::EntryNames(dir.Path()).size(), 6u);
}

TEST(ConfinedDirectory, DotDotAndEmptyComponentsAreRefused) {
    TTempDir dir;
    TConfinedDirectory root(dir.Path());
    for (const char* bad : {"../x", "a/../../x", "a//b", "./a", "", "a/.."}) {
        EXPECT_EQ(ErrorOf([&] { WriteWhole(root, bad, "x"); }), EINVAL) << bad;
        EXPECT_EQ(ErrorOf([&] { root.RemoveFile(bad); }), EINVAL) << bad;
    }
}

TEST(ConfinedDirectory, RemoveReportsNothingToDoAndRefusesDirectories) {
    TTempDir dir;
    dir.WriteFile("d/f", "x");
    TConfinedDirectory root(dir.Path());
    EXPECT_FALSE(root.RemoveFile("missing"));
    EXPECT_FALSE(root.RemoveFile("nothing/here"));
    EXPECT_EQ(ErrorOf([&] { root.RemoveFile("d"); }), EISDIR);
    EXPECT_TRUE(root.RemoveFile("d/f"));
    EXPECT_FALSE(FileExists(dir / "d/f"));
    EXPECT_TRUE(root.IsDirectory("d"));
    EXPECT_FALSE(root.IsDirectory("d/f"));
}

TEST(ConfinedDirectory, ZeroRunsBecomeHoles) {
    TTempDir dir;
    TConfinedDirectory root(dir.Path());
    // 8 MiB of zeros between two marks, in pieces that do not follow block boundaries, and a
    // zero tail: the size is exact, the content too, and the zeros take no blocks.
    std::string head(5000, 'h');
    const std::string zeros(8 * 1024 * 1024 + 123, '\0');
    {
        TConfinedFileWriter writer(root, "sparse.bin");
        writer.Write(head.data(), head.size());
        for (std::size_t at = 0; at < zeros.size(); at += 65521) {
            writer.Write(zeros.data() + at, std::min<std::size_t>(65521, zeros.size() - at));
        }
        writer.Write("tail", 4);
        writer.Write(zeros.data(), 10000);
        writer.Commit(0600, std::nullopt);
    }
    const std::string content = ReadWholeFile(dir / "sparse.bin");
    ASSERT_EQ(content.size(), head.size() + zeros.size() + 4 + 10000);
    EXPECT_EQ(content, head + zeros + "tail" + std::string(10000, '\0'));
    const int64_t onDisk = OnDiskSize(dir / "sparse.bin");
    ASSERT_GE(onDisk, 0);
    EXPECT_LT(onDisk, 1024 * 1024) << "the zeros were written out";
}

TEST(ConfinedDirectory, FailuresLeaveTheOldFileAndNoTemporaryFile) {
    TTempDir dir;
    dir.WriteFile("keep.txt", "old");
    TConfinedDirectory root(dir.Path());
    for (const TFileOperation operation :
         {TFileOperation::Create, TFileOperation::Write, TFileOperation::Rename}) {
        TScopedFault fault(
            [&](TFileOperation op, const std::string&) { return op == operation ? ENOSPC : 0; });
        EXPECT_EQ(ErrorOf([&] { WriteWhole(root, "keep.txt", std::string(9000, 'n')); }), ENOSPC);
        EXPECT_EQ(ReadWholeFile(dir / "keep.txt"), "old");
        std::vector<TDirectoryEntry> entries;
        ASSERT_TRUE(ListDirectory(dir.Path(), entries));
        EXPECT_EQ(entries.size(), 1u);
    }
    TScopedFault fault(FailUnder(dir / "new", TFileOperation::MakeDirectory, EACCES));
    EXPECT_EQ(ErrorOf([&] { WriteWhole(root, "new/x", "x"); }), EACCES);
}

// What a killed restore left beside a file goes when the file is written again; temporary files
// of other names and one a writer still holds stay.
TEST(ConfinedDirectory, TemporariesOfAKilledRestoreGoWhenTheirFileIsWritten) {
    TTempDir dir;
    const std::string stale = dir.WriteFile("d/.a.txt.Xy12Zw34", "killed half-way");
    const std::string other = dir.WriteFile("d/.b.txt.Xy12Zw34", "of a file not written now");
    const std::string mine = dir.WriteFile("d/.a.txt.notmine", "a user's");
    TConfinedDirectory root(dir.Path());
    TConfinedFileWriter active(root, "d/a.txt");  // in use until it commits
    {
        TConfinedFileWriter writer(root, "d/a.txt");
        writer.Write("new", 3);
        writer.Commit(0644, std::nullopt);
    }
    EXPECT_FALSE(FileExists(stale));
    EXPECT_TRUE(FileExists(other));
    EXPECT_TRUE(FileExists(mine));
    std::size_t temporaries = 0;
    for (const std::string& name : test::EntryNames(dir / "d")) {
        temporaries += name.rfind(".a.txt.", 0) == 0 && name.size() == 15 ? 1 : 0;
    }
    EXPECT_EQ(temporaries, 1u);  // the active writer's
    EXPECT_EQ(ReadWholeFile(dir / "d/a.txt"), "new");
}

}  // namespace
}  // namespace sejfko
