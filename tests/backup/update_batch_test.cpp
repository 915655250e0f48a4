#include "backup/update_batch.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/exceptions.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "support/deletion_list_writer.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::WriteUpdateBatch;

using test::ReadWholeFile;

// The line this platform's list holds for an ASCII `path`, with its line end.
std::string ListLine(const std::string& path) {
#ifdef _WIN32
    return WindowsUpdateBatchLine(path) + "\r\n";
#else
    return PosixUpdateBatchLine(path) + "\n";
#endif
}

struct TLineCase {
    const char* Path;
    const char* Line;
};

class PosixUpdateBatchLineTest : public testing::TestWithParam<TLineCase> {};

TEST_P(PosixUpdateBatchLineTest, NameAsTheArchiveStoresIt) {
    EXPECT_EQ(PosixUpdateBatchLine(GetParam().Path), GetParam().Line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PosixUpdateBatchLineTest,
    testing::Values(TLineCase{"/home/u/a.txt", "rm -f -- 'home/u/a.txt'"},
                    TLineCase{"/data/it's", "rm -f -- 'data/it'\\''s'"},
                    TLineCase{"/d/$(reboot) `x` \"q\" *", "rm -f -- 'd/$(reboot) `x` \"q\" *'"},
                    // No way out of the folder the script runs in.
                    TLineCase{"//data/./x/../../etc/passwd", "rm -f -- 'data/x/etc/passwd'"},
                    TLineCase{"/P\xC5\x99\xC3\xADloha \xFF",
                              "rm -f -- 'P\xC5\x99\xC3\xADloha \xFF'"},
                    TLineCase{"/-rf", "rm -f -- '-rf'"}));

class WindowsUpdateBatchLineTest : public testing::TestWithParam<TLineCase> {};

TEST_P(WindowsUpdateBatchLineTest, DelWithoutTheDriveInCodePage852) {
    EXPECT_EQ(WindowsUpdateBatchLine(GetParam().Path), GetParam().Line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowsUpdateBatchLineTest,
    testing::Values(TLineCase{"C:\\Data\\x.txt", "del \\Data\\x.txt"},
                    // ř (0xF8 in Windows-1250) is 0xFD in code page 852, í 0xED is 0xA1.
                    TLineCase{"d:\\P\xF8\xEDloha\\\x8A"
                              "ek.doc",
                              "del \\P\xFD\xA1loha\\\xE6"
                              "ek.doc"},
                    TLineCase{"C:\\My Data\\a b.txt", "del \"\\My Data\\a b.txt\""},
                    TLineCase{"C:\\R&D\\x", "del \"\\R&D\\x\""},
                    TLineCase{"C:\\100%.txt", "del \\100%%.txt"},
                    TLineCase{"\\\\server\\share\\x.txt", "del \\\\server\\share\\x.txt"}));

class UpdateBatchFileTest : public testing::Test {
protected:
    void TearDown() override { DeleteUpdateBatch(); }
};

TEST_F(UpdateBatchFileTest, WrittenInAPrivateDirectoryAndRemovedWithIt) {
    const std::string path = UpdateBatchPath();
    EXPECT_EQ(ExtractFileName(path), UpdateBatchName);
    const std::string directory = ExtractFileDir(path);
#ifndef _WIN32
    struct stat info {};
    ASSERT_EQ(::stat(directory.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
#endif
    EXPECT_TRUE(IsUpdateBatchPath(path));
    EXPECT_FALSE(IsUpdateBatchPath(directory + "/other"));
    EXPECT_FALSE(IsUpdateBatchPath("/tmp/!!!!!upd_arch.sh"));

    WriteUpdateBatch({"/old/list"});
    WriteUpdateBatch({"/a/one", "/a/with\nline end", "/b/it's", "/c/cr\r"});
    EXPECT_EQ(UpdateBatchPath(), path);
    EXPECT_EQ(ReadWholeFile(path), ListLine("/a/one") + ListLine("/b/it's"));

    DeleteUpdateBatch();
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(DirectoryExists(directory));
    EXPECT_FALSE(IsUpdateBatchPath(path));
    DeleteUpdateBatch();  // nothing left to delete: no error

    WriteUpdateBatch({});
    EXPECT_EQ(ReadWholeFile(UpdateBatchPath()), "");
}

TEST_F(UpdateBatchFileTest, ListWrittenNameByNameAppearsOnlyWhenCommitted) {
    WriteUpdateBatch({"/old"});
    const std::string path = UpdateBatchPath();
    {
        TUpdateBatchWriter writer;
        writer.Add("/new");
    }
    EXPECT_EQ(ReadWholeFile(path), ListLine("/old"));
    std::vector<TDirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(ExtractFileDir(path), entries));
    EXPECT_EQ(entries.size(), 1u);  // no temporary file left behind

    TUpdateBatchWriter writer;
    writer.Add("/new");
    writer.Commit();
    EXPECT_EQ(ReadWholeFile(path), ListLine("/new"));
}

#ifdef _WIN32
// The state's names are UTF-8; the list has them in Windows-1250 with the Czech letters in code
// page 852. A name that code page cannot write is left out: "?" in its place would be a wildcard.
TEST_F(UpdateBatchFileTest, WindowsListInCodePage852) {
    WriteUpdateBatch(
        {"C:\\P\xC5\x99\xC3\xADloha\\\xC5\xA0"
         "ek.doc",
         "C:\\x\\\xE4\xB8\xAD.txt", "D:\\R&D\\\xE2\x82\xAC"});
    EXPECT_EQ(ReadWholeFile(UpdateBatchPath()),
              "del \\P\xFD\xA1loha\\\xE6"
              "ek.doc\r\ndel \"\\R&D\\\x80\"\r\n");
}
#endif

TEST_F(UpdateBatchFileTest, UnwritableListRaises) {
    const std::string directory = ExtractFileDir(UpdateBatchPath());
    TScopedFault fault(FailUnder(directory, TFileOperation::Create, EACCES));
    EXPECT_THROW(WriteUpdateBatch({"/a"}), EOSError);
    EXPECT_FALSE(FileExists(UpdateBatchPath()));
}

}  // namespace
}  // namespace sejfko
