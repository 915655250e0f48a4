// Damaged archives of every shape: each byte changed in turn, and the archive cut at every
// length. Whatever the bytes, opening and extracting end normally or in EZipReadError (never
// another exception, a crash or a hang); run under AddressSanitizer this also shows that no
// hostile size or count turns into a read outside a buffer or a huge allocation.

#include <gtest/gtest.h>

#include "archive/zip_read_fixtures.hpp"
#include "archive/zip_reader.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TTempDir;

// Opens `path` and extracts every entry; false when anything but EZipReadError is thrown.
bool ReadsOrFailsCleanly(const std::string& path, int& failures) {
    TZipReader reader;
    try {
        reader.Open(path);
    } catch (const EZipReadError&) {
        ++failures;
        return true;
    } catch (...) {
        return false;
    }
    for (const TZipDirEntry& entry : reader.Entries()) {
        try {
            uint64_t total = 0;
            reader.ExtractTo(entry, [&](const char*, std::size_t size) { total += size; });
            if (total != entry.UncompressedSize) {
                return false;  // success must mean the stated size was delivered
            }
        } catch (const EZipReadError&) {
            ++failures;
        } catch (...) {
            return false;
        }
    }
    return true;
}

// A small archive with a stored, a deflated and a Zip64 entry, so that every record kind is hit.
std::string SmallArchive(const TTempDir& dir) {
    EXPECT_TRUE(test::RunPython(dir, R"(
import zipfile
with zipfile.ZipFile("small.zip", "w") as z:
    z.comment = b"c"
    z.writestr(zipfile.ZipInfo("a"), b"stored data")
    z.writestr("b", b"deflated " * 20, compress_type=zipfile.ZIP_DEFLATED)
    with z.open(zipfile.ZipInfo("c"), "w", force_zip64=True) as out:
        out.write(b"zip64")
)"));
    return test::ReadWholeFile(dir / "small.zip");
}

TEST(ZipReaderFuzz, EveryTruncationFailsCleanly) {
    TTempDir dir;
    const std::string good = SmallArchive(dir);
    ASSERT_GT(good.size(), 100u);
    const std::string path = dir / "cut.zip";
    int failures = 0;
    for (std::size_t length = 0; length < good.size(); ++length) {
        test::WriteBytes(path, good.substr(0, length));
        ASSERT_TRUE(ReadsOrFailsCleanly(path, failures)) << "length " << length;
    }
    // Every cut loses the end record, so none may pass as an archive.
    EXPECT_GE(failures, static_cast<int>(good.size()));
}

TEST(ZipReaderFuzz, EveryChangedByteFailsCleanly) {
    TTempDir dir;
    const std::string good = SmallArchive(dir);
    const std::string path = dir / "changed.zip";
    int failures = 0;
    for (std::size_t at = 0; at < good.size(); ++at) {
        for (const unsigned char mask : {0x01, 0x80, 0xFF}) {
            std::string bytes = good;
            bytes[at] = static_cast<char>(bytes[at] ^ mask);
            test::WriteBytes(path, bytes);
            ASSERT_TRUE(ReadsOrFailsCleanly(path, failures)) << "byte " << at << " ^ " << +mask;
        }
    }
    EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace sejfko
