// A sparse file over 4 GiB goes through a complete backup by the archive job and comes back
// from the restore with its size, its data and its holes: the restored file takes about as
// little disk as the original.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "archive/backup_job.hpp"
#include "cli/cli_runner.hpp"
#include "platform/clock.hpp"
#include "platform/file_system.hpp"
#include "support/disk_usage.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::OnDiskSize;
using test::SameVolume;

constexpr int64_t BigSize = (4LL << 30) + (300LL << 20) + 12345;
constexpr int64_t MarkAt[] = {0, 2LL << 30, (4LL << 30) + 7, BigSize - 5};

TEST(RestoreLarge, SparseFileOver4GiBStaysSparse) {
    test::TTempDir dir;
    // The archive of zeros is a few megabytes and both files are sparse; ask for room anyway.
    const int64_t free = FreeSpace(dir.Path());
    if (free >= 0 && free < (1LL << 30)) {
        GTEST_SKIP() << "needs 1 GiB free in " << dir.Path() << ", has " << free;
    }
    const std::string source = dir / "src/big.bin";
    dir.MakeDir("src");
    {
        const int handle = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0640);
        ASSERT_GE(handle, 0);
        ASSERT_EQ(::ftruncate(handle, BigSize), 0);
        for (const int64_t at : MarkAt) {
            ASSERT_EQ(::pwrite(handle, "MARK", 4, at), 4);
        }
        const timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
        ASSERT_EQ(::futimens(handle, times), 0);
        ::close(handle);
    }
    if (OnDiskSize(source) > (64LL << 20)) {
        GTEST_SKIP() << "the file system here keeps no holes";
    }

    SetZipEngineDirectory(SEJFKO_ZIPENGINE_DIR);
    TManualClock clock(EncodeDateTime(2026, 1, 5, 12, 0, 0));
    TScopedClock scoped(clock);
    ASSERT_TRUE(DoBackup(
        {dir / "src"}, dir / "arch/", true, false, [](int32_t, bool&) {}, true))
        << LastMessage();
    SetZipEngineDirectory("");

    const test::TCliRun run = test::RunCliWith({"restore", "--to", dir / "out", dir / "arch"});
    ASSERT_EQ(run.Code, 0) << run.Err;
    const std::string restored = dir / ("out" + source);
    const TFileStatus status = GetFileStatus(restored);
    ASSERT_EQ(status.Kind, TEntryKind::Regular);
    EXPECT_EQ(status.Size, BigSize);
    EXPECT_EQ(status.ModifiedSeconds, 1700000000);
    EXPECT_LT(OnDiskSize(restored), 64LL << 20);
    const int handle = ::open(restored.c_str(), O_RDONLY);
    ASSERT_GE(handle, 0);
    for (const int64_t at : MarkAt) {
        char mark[6] = {};
        ASSERT_EQ(::pread(handle, mark, 6, at), at + 6 <= BigSize ? 6 : BigSize - at);
        EXPECT_EQ(std::string(mark, 4), "MARK") << at;
    }
    char zero = 1;
    ASSERT_EQ(::pread(handle, &zero, 1, 3LL << 30), 1);
    EXPECT_EQ(zero, 0);
    ::close(handle);
}

}  // namespace
}  // namespace sejfko
