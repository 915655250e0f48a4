// An entry over 4 GiB: its sizes exist only in the Zip64 extra field, and reading it must go
// through fixed buffers (the deflated archive itself is a few megabytes of zeros).

#include <gtest/gtest.h>

#include "archive/zip_read_fixtures.hpp"
#include "archive/zip_reader.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

TEST(ZipReaderLarge, EntryOver4GiBIsReadAndChecked) {
    test::TTempDir dir;
    ASSERT_TRUE(test::RunPython(dir, R"(
import zipfile
with zipfile.ZipFile("big.zip", "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
    with z.open("big.bin", "w", force_zip64=True) as out:
        chunk = bytes(1 << 20)
        for i in range(4200):
            out.write(chunk)
    z.writestr("after.txt", b"after")
)")) << test::ReadWholeFile(dir / "py.log");
    TZipReader reader;
    reader.Open(dir / "big.zip");
    ASSERT_EQ(reader.Entries().size(), 2u);
    const TZipDirEntry& big = reader.Entries()[0];
    EXPECT_EQ(big.UncompressedSize, 4200ull << 20);
    uint64_t total = 0;
    std::size_t largestChunk = 0;
    bool allZero = true;
    reader.ExtractTo(big, [&](const char* data, std::size_t size) {
        total += size;
        largestChunk = std::max(largestChunk, size);
        for (std::size_t i = 0; i < size && allZero; i += 4096) {
            allZero = data[i] == 0;
        }
    });
    EXPECT_EQ(total, big.UncompressedSize);
    EXPECT_TRUE(allZero);
    EXPECT_LE(largestChunk, 1u << 20);
    std::string after;
    reader.ExtractTo(reader.Entries()[1],
                     [&](const char* data, std::size_t size) { after.append(data, size); });
    EXPECT_EQ(after, "after");
}

}  // namespace
}  // namespace sejfko
