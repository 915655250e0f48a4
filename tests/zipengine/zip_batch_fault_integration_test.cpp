// A read that fails part-way through a large file: the engine, compiled in here, gets a failing
// reader; the entry already begun in the archive must disappear without a trace.
#include <atomic>
#include <cerrno>

#include "support/temp_dir.hpp"
#include "zipengine/archive_output.cpp"
#include "zipengine/archive_readers.hpp"
#include "zipengine/central_directory.cpp"
#include "zipengine/deflate_chunk.cpp"
#include "zipengine/engine_harness.hpp"
#include "zipengine/entry_sealer.cpp"
#include "zipengine/file_walker.cpp"
#include "zipengine/stored_names.cpp"
#include "zipengine/work_pool.cpp"
#include "zipengine/zip_batch.cpp"
#include "zipengine/zip_format.cpp"
#include "zipengine/zip_job.cpp"

namespace sejfko::test {
namespace {

std::atomic<int> GLargeReads = 0;

// Large reads are pieces of the big file, read by any thread: the first succeeds, the second
// fails.
ssize_t FailSecondLargeRead(int handle, void* data, size_t size, off_t offset) {
    if (size > (1u << 20) && ++GLargeReads == 2) {
        errno = EIO;
        return -1;
    }
    return pread(handle, data, size, offset);
}

TEST(ZipBatchFault, FileFailingPartWayIsCutFromTheArchive) {
    TTempDir dir;
    const std::string root = dir.MakeDir("t");
    dir.WriteFile("t/a.txt", "first");
    const std::string big = dir.WriteFile("t/b.bin", std::string(10u << 20, 'b'));
    dir.WriteFile("t/c.txt", "last");
    GLargeReads = 0;
    zipengine::GReadFileData = &FailSecondLargeRead;
    TEngineRun engine;
    engine.Exec = [](TZipCommand* command) -> int32_t {
        return zipengine::TZipBatch(*command).Run();
    };
    const std::string archive = dir / "f.zip";
    const int32_t added = engine.Run(archive, {{root + "/*.*", false, root}});
    zipengine::GReadFileData = &::pread;
    EXPECT_EQ(added, 2);
    const auto messages = engine.CallsOf(zacMessage);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Error, zecSkipped);
    EXPECT_EQ(messages[0].Text, big);
    uint64_t progress = 0;
    for (const TCallbackCall& call : engine.CallsOf(zacProgress)) {
        progress += call.Size;
    }
    EXPECT_EQ(progress, engine.Calls.front().Size) << "progress must add up to the total";
    ExpectReadersAccept(archive);
    // Readers go by the central directory and would not mind the orphaned start of b.bin.
    EXPECT_LT(ReadWholeFile(archive).size(), 1000u) << "the failed entry left bytes behind";
    const auto entries = ReadWithPython(archive);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.count("a.txt"), 1u);
    EXPECT_EQ(entries.count("c.txt"), 1u);
}

}  // namespace
}  // namespace sejfko::test
