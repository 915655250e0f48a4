#include "archive/zip_reader.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <functional>

#include "archive/zip_read_fixtures.hpp"
#include "backup/file_scan.hpp"
#include "platform/date_time.hpp"
#include "platform/fault_injection.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::ReadWholeFile;
using test::TSampleFile;
using test::TTempDir;
using test::WriteBytes;

constexpr uint32_t SampleStamp = ((40u << 9 | 5u << 5 | 17u) << 16) | (13u << 11 | 45u << 5 | 15u);

std::string Extract(const TZipReader& reader, const TZipDirEntry& entry) {
    std::string data;
    reader.ExtractTo(entry, [&](const char* chunk, std::size_t size) { data.append(chunk, size); });
    return data;
}

// The code of the EZipReadError that `action` throws (0 when it throws none), its text in
// `message`. Any other exception fails the test.
int ErrorCodeOf(const std::function<void()>& action, std::string* message = nullptr) {
    try {
        action();
    } catch (const EZipReadError& error) {
        if (message != nullptr) {
            *message = error.what();
        }
        return error.Code;
    }
    return 0;
}

bool IsAscii(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

const TZipDirEntry* FindEntry(const TZipReader& reader, const std::string& name) {
    for (const TZipDirEntry& entry : reader.Entries()) {
        if (entry.Name == name) {
            return &entry;
        }
    }
    return nullptr;
}

// ---- archives from other writers, read back whole ------------------------------------------

struct TWriterCase {
    const char* Label;
    std::function<std::string(const TTempDir&)> Write;
    std::optional<int64_t> Mtime;  // the extended timestamp, when the writer adds one
};

void PrintTo(const TWriterCase& value, std::ostream* out) {
    *out << value.Label;
}

class ZipReaderWriters : public testing::TestWithParam<TWriterCase> {};

TEST_P(ZipReaderWriters, EntriesDataAndCommentMatchWhatWasWritten) {
    TTempDir dir;
    const std::string archive = GetParam().Write(dir);
    TZipReader reader;
    reader.Open(archive);
    EXPECT_EQ(reader.Comment(), "Záloha");
    const std::vector<TSampleFile> files = test::SampleFiles();
    ASSERT_EQ(reader.Entries().size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const TZipDirEntry& entry = reader.Entries()[i];
        const TSampleFile& file = files[i];
        SCOPED_TRACE(file.Name);
        EXPECT_EQ(entry.Name, file.Name);
        EXPECT_EQ(entry.Utf8, !IsAscii(file.Name));
        EXPECT_EQ(entry.Method, file.Stored ? 0 : 8);
        EXPECT_EQ(entry.UncompressedSize, file.Content.size());
        EXPECT_EQ(entry.Crc32, Crc32(0, file.Content.data(), file.Content.size()));
        EXPECT_EQ(entry.DosDateTime, SampleStamp);
        EXPECT_EQ(entry.IsDirectory(), file.Name.back() == '/');
        const int64_t expectedTime =
            GetParam().Mtime.value_or(DateTimeToUnix(EncodeDateTime(2020, 5, 17, 13, 45, 30)));
        EXPECT_EQ(entry.ModifiedUnix, expectedTime);
        EXPECT_EQ(Extract(reader, entry), file.Content);
    }
    EXPECT_LT(FindEntry(reader, "text.txt")->CompressedSize,
              FindEntry(reader, "text.txt")->UncompressedSize / 4);
}

INSTANTIATE_TEST_SUITE_P(
    Writers, ZipReaderWriters,
    testing::Values(
        TWriterCase{"PythonZipfile", [](const TTempDir& d) { return test::WritePythonSample(d); },
                    std::nullopt},
        TWriterCase{"PythonZip64LocalHeaders",
                    [](const TTempDir& d) { return test::WritePythonSample(d, true); },
                    std::nullopt},
        TWriterCase{"HandWrittenZip64", test::WriteZip64Sample, test::Zip64SampleMtime}),
    [](const auto& info) { return std::string(info.param.Label); });

// Info-ZIP: stores by suffix, adds extended timestamps, and writes data descriptors (with sizes
// only after the data) when it reads from a pipe.
TEST(ZipReader, ReadsInfoZipArchivesWithTimestampsAndDataDescriptors) {
    TTempDir dir;
    test::WriteSampleSources(dir);
    const struct timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
    for (const TSampleFile& file : test::SampleFiles()) {
        ASSERT_EQ(::utimensat(AT_FDCWD, (dir / ("src/" + file.Name)).c_str(), times, 0), 0);
    }
    ASSERT_TRUE(test::RunShell(dir,
                               "cd src && zip -q -r -n .bin ../info.zip . && cd .. && "
                               "cat src/text.txt | zip -q - - | cat > streamed.zip"));
    TZipReader reader;
    reader.Open(dir / "info.zip");
    for (const TSampleFile& file : test::SampleFiles()) {
        SCOPED_TRACE(file.Name);
        const TZipDirEntry* entry = FindEntry(reader, file.Name);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->ModifiedUnix, 1600000000);
        if (file.Name == "stored.bin") {
            EXPECT_EQ(entry->Method, 0);
        }
        EXPECT_EQ(Extract(reader, *entry), file.Content);
    }
    reader.Open(dir / "streamed.zip");
    ASSERT_EQ(reader.Entries().size(), 1u);
    EXPECT_NE(reader.Entries()[0].Flags & 0x0008, 0) << "expected a data descriptor";
    EXPECT_EQ(Extract(reader, reader.Entries()[0]), test::SampleFiles()[0].Content);
}

// More than 65,535 entries: the count lives only in the Zip64 end record.
TEST(ZipReader, ReadsEntryCountFromZip64EndRecord) {
    TTempDir dir;
    ASSERT_TRUE(test::RunPython(dir, R"(
import zipfile
with zipfile.ZipFile("many.zip", "w") as z:
    for i in range(70000):
        z.writestr("f%05d" % i, str(i))
)"));
    TZipReader reader;
    reader.Open(dir / "many.zip");
    ASSERT_EQ(reader.Entries().size(), 70000u);
    EXPECT_EQ(reader.Entries()[69999].Name, "f69999");
    EXPECT_EQ(Extract(reader, reader.Entries()[69999]), "69999");
}

TEST(ZipReader, ReadsAnEmptyArchive) {
    TTempDir dir;
    const std::string path =
        dir.WriteFile("empty.zip", std::string("PK\5\6", 4) + std::string(18, '\0'));
    TZipReader reader;
    reader.Open(path);
    EXPECT_TRUE(reader.Entries().empty());
    EXPECT_TRUE(reader.IsOpen());
}

// ---- damage: each case names its code and where the error shows -------------------------

struct TDamageCase {
    const char* Label;
    // Changes the bytes of the sample archive.
    std::function<void(std::string&)> Damage;
    int OpenCode;     // from Open, 0 when it opens
    int ExtractCode;  // from extracting stored.bin, when it opens
};

std::size_t FindOnce(const std::string& bytes, const std::string& what) {
    const std::size_t at = bytes.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    EXPECT_EQ(bytes.find(what, at + 1), std::string::npos) << what;
    return at;
}

std::size_t CentralEntryOf(const std::string& bytes, const std::string& name) {
    const std::size_t at = bytes.find(std::string("PK\1\2", 4));
    return bytes.find(name, at) - 46;
}

std::size_t LocalHeaderOf(const std::string& bytes, const std::string& name) {
    const auto* p =
        reinterpret_cast<const unsigned char*>(bytes.data()) + CentralEntryOf(bytes, name) + 42;
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::size_t>(p[3]) << 24;
}

void Put32(std::string& bytes, std::size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

void PrintTo(const TDamageCase& value, std::ostream* out) {
    *out << value.Label;
}

class ZipReaderDamage : public testing::TestWithParam<TDamageCase> {};

TEST_P(ZipReaderDamage, IsReportedWithItsCodeNamingArchiveAndEntry) {
    TTempDir dir;
    const std::string archive = test::WritePythonSample(dir);
    std::string bytes = ReadWholeFile(archive);
    GetParam().Damage(bytes);
    WriteBytes(archive, bytes);
    TZipReader reader;
    std::string message;
    EXPECT_EQ(ErrorCodeOf([&] { reader.Open(archive); }, &message), GetParam().OpenCode) << message;
    if (GetParam().OpenCode != 0) {
        EXPECT_NE(message.find(archive), std::string::npos) << message;
        EXPECT_FALSE(reader.IsOpen());
        EXPECT_TRUE(reader.Entries().empty());
        return;
    }
    const TZipDirEntry* entry = FindEntry(reader, "stored.bin");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(ErrorCodeOf([&] { Extract(reader, *entry); }, &message), GetParam().ExtractCode)
        << message;
    EXPECT_NE(message.find("\"stored.bin\""), std::string::npos) << message;
    EXPECT_NE(message.find(archive), std::string::npos) << message;
    // The other entries stay readable.
    EXPECT_EQ(Extract(reader, *FindEntry(reader, "text.txt")), test::SampleFiles()[0].Content);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZipReaderDamage,
    testing::Values(
        TDamageCase{"FlippedDataByte", [](std::string& b) { b[FindOnce(b, "STORED-MARK!")] ^= 1; },
                    0, 11015},
        TDamageCase{"WrongCrcInDirectory",
                    [](std::string& b) { b[CentralEntryOf(b, "stored.bin") + 16] ^= 0x40; }, 0,
                    11015},
        TDamageCase{"SizeBeyondTheFile",
                    [](std::string& b) {
                        Put32(b, CentralEntryOf(b, "stored.bin") + 20, 0x7FFFFFFF);
                        Put32(b, CentralEntryOf(b, "stored.bin") + 24, 0x7FFFFFFF);
                    },
                    0, 11013},
        TDamageCase{"UnsupportedMethod",
                    [](std::string& b) { b[CentralEntryOf(b, "stored.bin") + 10] = 12; }, 0, 11013},
        TDamageCase{"Encrypted",
                    [](std::string& b) { b[CentralEntryOf(b, "stored.bin") + 8] |= 1; }, 0, 11013},
        TDamageCase{"BadLocalHeader",
                    [](std::string& b) { b[LocalHeaderOf(b, "stored.bin") + 3] = 9; }, 0, 11013},
        TDamageCase{"LastByteCut", [](std::string& b) { b.pop_back(); }, 10201, 0},
        TDamageCase{"CutInHalf", [](std::string& b) { b.resize(b.size() / 2); }, 10201, 0},
        TDamageCase{"NotAZip", [](std::string& b) { b.assign(5000, 'x'); }, 10201, 0},
        TDamageCase{"EmptyFile", [](std::string& b) { b.clear(); }, 10201, 0},
        TDamageCase{"DirectorySignature",
                    [](std::string& b) { b[CentralEntryOf(b, "stored.bin")] = 'X'; }, 10202, 0},
        TDamageCase{
            "DirectoryOffsetBeyond",
            [](std::string& b) { Put32(b, b.rfind(std::string("PK\5\6", 4)) + 16, 1u << 30); },
            10202, 0},
        TDamageCase{"HugeEntryCount",
                    [](std::string& b) {
                        const std::size_t end = b.rfind(std::string("PK\5\6", 4));
                        b[end + 8] = b[end + 10] = static_cast<char>(0xFF);
                        b[end + 9] = b[end + 11] = static_cast<char>(0xFE);
                    },
                    10202, 0},
        TDamageCase{"Zip64MarkWithoutRecord",
                    [](std::string& b) { Put32(b, b.rfind(std::string("PK\5\6", 4)) + 12, ~0u); },
                    10203, 0}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST(ZipReader, BadZip64LocatorOrFieldIsReported) {
    TTempDir dir;
    const std::string archive = test::WriteZip64Sample(dir);
    const std::string good = ReadWholeFile(archive);
    // Locator pointing past itself.
    std::string bytes = good;
    const std::size_t locator = bytes.rfind(std::string("PK\6\7", 4));
    Put32(bytes, locator + 8, static_cast<uint32_t>(locator));
    WriteBytes(archive, bytes);
    TZipReader reader;
    EXPECT_EQ(ErrorCodeOf([&] { reader.Open(archive); }), 10203);
    // Zip64 extra field shortened so that the offset is missing.
    bytes = good;
    const std::size_t entry = CentralEntryOf(bytes, "text.txt");
    bytes[entry + 46 + 8 + 2] = 16;
    WriteBytes(archive, bytes);
    std::string message;
    EXPECT_EQ(ErrorCodeOf([&] { reader.Open(archive); }, &message), 10203);
    EXPECT_NE(message.find("text.txt"), std::string::npos) << message;
}

TEST(ZipReader, CannotOpenIsReportedAs10103) {
    TTempDir dir;
    TZipReader reader;
    std::string message;
    EXPECT_EQ(ErrorCodeOf([&] { reader.Open(dir / "missing.zip"); }, &message), 10103);
    EXPECT_NE(message.find("missing.zip"), std::string::npos);
    EXPECT_EQ(ErrorCodeOf([&] { reader.Open(dir.Path()); }), 10103);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(ErrorCodeOf([&] { reader.Open(dir / "fifo"); }), 10103);
}

TEST(ZipReader, ReadFaultsAreReportedAs10103) {
    TTempDir dir;
    const std::string archive = test::WritePythonSample(dir);
    TZipReader reader;
    {
        TScopedFault fault(FailUnder(archive, TFileOperation::OpenRead, EACCES));
        EXPECT_EQ(ErrorCodeOf([&] { reader.Open(archive); }), 10103);
    }
    {
        TScopedFault fault(FailUnder(archive, TFileOperation::Read, EIO));
        EXPECT_EQ(ErrorCodeOf([&] { reader.Open(archive); }), 10103);
    }
    reader.Open(archive);
    TScopedFault fault(FailUnder(archive, TFileOperation::Read, EIO));
    EXPECT_EQ(ErrorCodeOf([&] { Extract(reader, reader.Entries()[0]); }), 10103);
}

TEST(ZipReader, ErrorsFromTheSinkPassThrough) {
    TTempDir dir;
    const std::string archive = test::WritePythonSample(dir);
    TZipReader reader;
    reader.Open(archive);
    EXPECT_THROW(reader.ExtractTo(reader.Entries()[0],
                                  [](const char*, std::size_t) { throw std::logic_error("stop"); }),
                 std::logic_error);
}

}  // namespace
}  // namespace sejfko
