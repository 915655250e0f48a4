// An archive over 4 GiB: Zip64 sizes and offsets, read by unzip and Python's zipfile. The input is
// sparse, so it costs little disk, but compressing 4.5 GiB takes a minute.
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "support/temp_dir.hpp"
#include "zipengine/archive_readers.hpp"
#include "zipengine/engine_harness.hpp"

namespace sejfko::test {
namespace {

class TZipEngineLarge : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(Engine.Exec, nullptr) << dlerror(); }
    TTempDir Dir;
    TEngineRun Engine;
};

TEST_F(TZipEngineLarge, SparseFileOver4GiBUsesZip64) {
    struct statvfs fs {};
    ASSERT_EQ(statvfs(Dir.Path().c_str(), &fs), 0);
    if (static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize < (64u << 20)) {
        GTEST_SKIP() << "needs 64 MiB free in " << Dir.Path();
    }
    const std::string big = Dir / "sparse.bin";
    const uint64_t size = (9ull << 29) + 12345;  // 4.5 GiB and a bit
    {
        const int fd = open(big.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, "head", 4, 0), 4);
        ASSERT_EQ(pwrite(fd, "tail", 4, static_cast<off_t>(size - 4)), 4);
        close(fd);
    }
    Dir.WriteFile("after.txt", "after the big one");
    Engine.Level = 1;
    const std::string archive = Dir / "big.zip";
    ASSERT_EQ(
        Engine.Run(archive, {{big, false, Dir.Path()}, {Dir / "after.txt", false, Dir.Path()}}), 2);
    unlink(big.c_str());
    const auto [status, output] = RunCommand("unzip -tqq " + Quote(archive));
    EXPECT_EQ(status, 0) << output;
    const auto entries = ReadWithPython(archive, false);
    EXPECT_EQ(entries.at("sparse.bin").Size, size);
    const auto [pyStatus, text] = RunCommand(
        "/usr/bin/python3 -c \"import sys,zipfile; print(zipfile.ZipFile(sys.argv[1])"
        ".read('after.txt').decode())\" " +
        Quote(archive));
    EXPECT_EQ(text, "after the big one\n");
}

}  // namespace
}  // namespace sejfko::test
