#include "backup/file_scan.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <ostream>

#include "platform/dos_time.hpp"
#include "platform/fault_injection.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TTempDir;

std::vector<std::string> Names(const TExpandedFileList& files) {
    std::vector<std::string> names;
    for (const TExpandedFile& file : files) {
        names.push_back(file.Name);
    }
    return names;
}

TExpandedFileList Expand(const std::vector<std::string>& src) {
    TExpandedFileList dest{{"stale", 0, 0}};
    EXPECT_TRUE(ExpandSelection(dest, src, nullptr));
    return dest;
}

TEST(ExpandSelectionTest, ListsFilesDepthFirstInNameOrderWithDotFiles) {
    TTempDir dir;
    dir.WriteFile("d/b.txt", "b");
    dir.WriteFile("d/a/z", "z");
    dir.WriteFile("d/a/.hidden", "h");
    dir.WriteFile("d/.dot/x", "x");
    dir.WriteFile("d/c/y", "y");
    dir.MakeDir("d/empty");
    const std::string d = dir / "d";
    const std::vector<std::string> expected{d + "/.dot/x", d + "/a/.hidden", d + "/a/z",
                                            d + "/b.txt", d + "/c/y"};
    EXPECT_EQ(Names(Expand({d})), expected);
    // A trailing separator gives the same names, each with one separator.
    EXPECT_EQ(Names(Expand({d + "/"})), expected);
}

TEST(ExpandSelectionTest, FilesAsWrittenMissingAndWildcardsSilentDuplicatesKept) {
    TTempDir dir;
    const std::string file = dir.WriteFile("x.txt", "12345");
    const std::string written = dir.Path() + "/./x.txt";
    const TExpandedFileList files =
        Expand({written, dir / "missing", dir / "*.txt", "", file, dir.Path()});
    EXPECT_EQ(Names(files), (std::vector<std::string>{written, file, file}));
    EXPECT_EQ(files[0].Size, 5);
}

TEST(ExpandSelectionTest, StampIsLocalModificationTimePacked) {
    TTempDir dir;
    const std::string file = dir.WriteFile("x", "");
    std::tm local{};
    local.tm_year = 2021 - 1900;
    local.tm_mon = 5;
    local.tm_mday = 15;
    local.tm_hour = 13;
    local.tm_min = 45;
    local.tm_sec = 31;
    local.tm_isdst = -1;
    const timespec times[2] = {{mktime(&local), 0}, {mktime(&local), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    const TExpandedFileList files = Expand({dir.Path()});
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(static_cast<uint32_t>(files[0].Stamp), 0x52CF6DAFu);  // seconds 31 -> 30
}

// Links in a tree are links, whatever they point to: listed with their own time and the length
// of their target text, never followed (no loops, nothing from outside).
TEST(ExpandSelectionTest, SymlinksInATreeAreListedAsLinksNeverFollowed) {
    TTempDir dir;
    const std::string target = dir.WriteFile("outside/t.txt", "target");
    dir.WriteFile("tree/f", "f");
    ASSERT_EQ(symlink(target.c_str(), (dir / "tree/link-file").c_str()), 0);
    ASSERT_EQ(symlink((dir / "tree").c_str(), (dir / "tree/loop").c_str()), 0);
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "tree/link-dir").c_str()), 0);
    ASSERT_EQ(symlink("none", (dir / "tree/dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "tree/fifo").c_str(), 0600), 0);
    const std::time_t when = 1600000000;
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "tree/dangling").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    const TExpandedFileList files = Expand({dir / "tree"});
    EXPECT_EQ(Names(files), (std::vector<std::string>{dir / "tree/dangling", dir / "tree/f",
                                                      dir / "tree/link-dir", dir / "tree/link-file",
                                                      dir / "tree/loop"}));
    for (const TExpandedFile& file : files) {
        EXPECT_EQ(file.Link, file.Name != dir / "tree/f") << file.Name;
    }
    EXPECT_EQ(files[0].Size, 4);
    EXPECT_EQ(files[0].Stamp, UnixTimeToFileDate(when));
    EXPECT_EQ(files[3].Size, static_cast<int64_t>(target.size()));
}

TEST(ExpandSelectionTest, SymlinkNamedInSelectionIsFollowed) {
    TTempDir dir;
    dir.WriteFile("real/a", "a");
    ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "chosen").c_str()), 0);
    ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "real/back").c_str()), 0);
    const TExpandedFileList files = Expand({dir / "chosen"});
    EXPECT_EQ(Names(files), (std::vector<std::string>{dir / "chosen/a", dir / "chosen/back"}));
    EXPECT_FALSE(files[0].Link);
    EXPECT_TRUE(files[1].Link);  // met inside: kept as the link it is
}

TEST(ExpandSelectionTest, UnlistableDirectoryIsSkipped) {
    TTempDir dir;
    dir.WriteFile("d/hidden/x", "x");
    dir.WriteFile("d/y", "y");
    TScopedFault fault(FailUnder(dir / "d/hidden", TFileOperation::ListDirectory, EACCES));
    EXPECT_EQ(Names(Expand({dir / "d"})), (std::vector<std::string>{dir / "d/y"}));
}

TEST(ExpandSelectionTest, CancellationStopsTheWalk) {
    TTempDir dir;
    for (const char* sub : {"a/1", "b/2", "c/3", "d/4"}) {
        dir.WriteFile(sub, "");
    }
    int asked = 0;
    TExpandedFileList dest;
    const bool done =
        ExpandSelection(dest, {dir.Path(), dir.Path()}, [&](bool& abort) { abort = ++asked == 4; });
    EXPECT_FALSE(done);
    EXPECT_EQ(asked, 4);  // never asked again after aborting
    // Asked for the entry, a, a/1 and b: a's file made it, b's did not.
    EXPECT_EQ(Names(dest), (std::vector<std::string>{dir / "a/1"}));
}

struct TCrcCase {
    const char* Label;
    std::string Content;
    uint32_t Crc;
};
// Keeps test names short when the test runner lists the cases.
void PrintTo(const TCrcCase& c, std::ostream* out) {
    *out << c.Label;
}

class FileCrc32Test : public testing::TestWithParam<TCrcCase> {};

TEST_P(FileCrc32Test, KnownAnswers) {
    TTempDir dir;
    uint32_t crc = 1;
    uint16_t error = 1;
    FileCrc32(dir.WriteFile("f", GetParam().Content), crc, error);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(crc, GetParam().Crc);
}

std::string Pattern(std::size_t size) {
    std::string text(size, '\0');
    uint32_t state = 12345;
    for (char& c : text) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(Table, FileCrc32Test,
                         testing::Values(TCrcCase{"Empty", "", 0},
                                         TCrcCase{"Abc", "abc", 0x352441C2u},
                                         TCrcCase{"Check", "123456789", 0xCBF43926u},
                                         TCrcCase{"Zeros", std::string(32, '\0'), 0x190A55ADu}),
                         [](const testing::TestParamInfo<TCrcCase>& info) {
                             return info.param.Label;
                         });

TEST(FileCrc32Test, LargeFileEqualsChainedBufferChecksum) {
    const std::string content = Pattern(3 * 1024 * 1024 + 7);
    uint32_t chained = 0;
    for (std::size_t at = 0; at < content.size(); at += 1000) {
        chained =
            Crc32(chained, content.data() + at, std::min<std::size_t>(1000, content.size() - at));
    }
    TTempDir dir;
    uint32_t crc = 0;
    uint16_t error = 1;
    const std::string path = dir.WriteFile("big", content);
    FileCrc32(path, crc, error);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(crc, chained);
    EXPECT_EQ(Crc32(0, content.data(), content.size()), chained);

    // A file of many gigabytes must not keep a stop waiting: the query is asked per chunk, and a
    // stop reads as a file that could not be read.
    int asked = 0;
    int stopAt = 0;
    const TQueryAbort query = [&](bool& abort) { abort = ++asked == stopAt; };
    FileCrc32(path, crc, error, query);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(crc, chained);
    EXPECT_GE(asked, 12);  // at least one per 256 KiB
    stopAt = 2;
    asked = 0;
    FileCrc32(path, crc, error, query);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(error, 1);
    EXPECT_EQ(crc, 0u);
}

TEST(FileCrc32Test, UnreadableGivesErrorOne) {
    TTempDir dir;
    const std::string file = dir.WriteFile("f", "abc");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);  // opening it would block forever
    auto check = [](const std::string& path) {
        uint32_t crc = 7;
        uint16_t error = 0;
        FileCrc32(path, crc, error);
        EXPECT_EQ(error, 1) << path;
        EXPECT_EQ(crc, 0u) << path;
    };
    check(dir / "missing");
    check(dir.Path());
    check(dir / "fifo");
    for (TFileOperation op : {TFileOperation::OpenRead, TFileOperation::Read}) {
        TScopedFault fault(FailUnder(file, op, EIO));
        check(file);
    }
}

}  // namespace
}  // namespace sejfko
