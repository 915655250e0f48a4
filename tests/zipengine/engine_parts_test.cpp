// The engine's internal pieces, compiled in here since the library exports only its C entry
// points.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <random>

#include "support/local_time.hpp"
#include "zipengine/deflate_chunk.cpp"
#include "zipengine/file_walker.cpp"
#include "zipengine/stored_names.cpp"
#include "zipengine/zip_format.cpp"

namespace sejfko::zipengine {
namespace {

std::vector<uint8_t> Inflate(const std::vector<uint8_t>& data, size_t expected) {
    std::vector<uint8_t> out(expected + 16);
    z_stream stream{};
    inflateInit2(&stream, -15);
    stream.next_in = const_cast<uint8_t*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    EXPECT_EQ(result, Z_STREAM_END);
    EXPECT_EQ(stream.avail_in, 0u) << "bytes after the final block";
    return out;
}

std::vector<uint8_t> Sample(size_t size, bool random, unsigned seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = random ? static_cast<uint8_t>(generator())
                         : static_cast<uint8_t>("lorem ipsum dolor sit amet "[generator() % 27]);
    }
    return data;
}

struct TJoinCase {
    size_t PieceSize;
    bool Random;
    int Level;
};

class TJoinTest : public ::testing::TestWithParam<TJoinCase> {};

// Many seeds so that the pieces end at every bit position within their last byte.
TEST_P(TJoinTest, PiecesJoinIntoOneStream) {
    const TJoinCase c = GetParam();
    for (unsigned seed = 0; seed < 12; ++seed) {
        const std::vector<uint8_t> data = Sample(c.PieceSize * 3 + seed, c.Random, seed);
        std::vector<uint8_t> joined;
        for (size_t start = 0; start < data.size(); start += c.PieceSize) {
            const size_t end = std::min(start + c.PieceSize, data.size());
            const std::vector<uint8_t> piece(data.begin() + static_cast<long>(start),
                                             data.begin() + static_cast<long>(end));
            std::vector<uint8_t> out;
            ASSERT_TRUE(CompressChunk(piece, c.Level, end == data.size(), out));
            joined.insert(joined.end(), out.begin(), out.end());
        }
        ASSERT_EQ(Inflate(joined, data.size()), data) << "seed " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(Pieces, TJoinTest,
                         ::testing::Values(TJoinCase{1, false, 6}, TJoinCase{97, false, 1},
                                           TJoinCase{5000, false, 12}, TJoinCase{5000, true, 6},
                                           TJoinCase{200000, false, 7}, TJoinCase{70000, true, 1}));

TEST(MakeJoinable, RefusesAnIncompleteStream) {
    std::vector<uint8_t> out;
    ASSERT_TRUE(CompressChunk(Sample(10000, false, 1), 6, true, out));
    out.resize(out.size() / 2);
    EXPECT_FALSE(MakeJoinable(out));
    std::vector<uint8_t> empty;
    EXPECT_FALSE(MakeJoinable(empty));
}

TEST(WildMatch, Table) {
    struct {
        const char* Pattern;
        const char* Name;
        bool Match;
    } rows[] = {
        {"*.*", "Makefile", true},
        {"*.*", ".profile", true},
        {"*.txt", "a.txt", true},
        {"*.txt", "a.TXT", false},
        {"*.txt", "a.txt.gz", false},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"*a*b", "xaxxb", true},
        {"*a*b", "xaxxbc", false},
        {"*", "", true},
        {"", "a", false},
        {"*/tmp/*", "/x/tmp/y", true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(WildMatch(row.Pattern, row.Name), row.Match) << row.Pattern << " " << row.Name;
    }
}

// Random names (many alike, some long, some empty) against a map: the index keeps every name
// and its file through the arena's blocks and the table's growth.
TEST(StoredNames, AgreesWithAMapOfNamesToFiles) {
    std::mt19937 generator(11);
    TStoredNames names;
    std::map<std::string, std::pair<uint32_t, ino_t>> oracle;
    for (int i = 0; i < 200000; ++i) {
        std::string name =
            "d" + std::to_string(generator() % 50) + "/f" + std::to_string(generator() % 60000);
        if (i % 5000 == 0) {
            name = std::string(generator() % 2 == 0 ? 0 : (1u << 20) + 3, 'n') + name;
        }
        const ino_t inode = generator() % 3;
        uint32_t index = 0;
        const TStoredNames::EAdd result = names.Add(name, 1, inode, index);
        const auto [it, added] =
            oracle.try_emplace(name, static_cast<uint32_t>(oracle.size()), inode);
        const TStoredNames::EAdd expected = added ? TStoredNames::EAdd::Added
                                            : it->second.second == inode
                                                ? TStoredNames::EAdd::SameFile
                                                : TStoredNames::EAdd::OtherFile;
        ASSERT_EQ(result, expected) << name;
        ASSERT_EQ(index, it->second.first) << name;
    }
    ASSERT_EQ(names.Count(), oracle.size());
    for (const auto& [name, entry] : oracle) {
        ASSERT_EQ(names.Name(entry.first), name);
    }
}

TEST(Utf8, ValidityAndNameFlag) {
    EXPECT_TRUE(IsValidUtf8("plain"));
    EXPECT_TRUE(IsValidUtf8("\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD"));  // Žluťoučký
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("bad\xFF"));
    EXPECT_FALSE(IsValidUtf8("\xC3"));              // cut short
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_EQ(NameFlags("dir/a.txt"), 0);
    EXPECT_EQ(NameFlags("k\xC5\xAF\xC5\x88.txt"), 1 << 11);
    EXPECT_EQ(NameFlags("k\xE8\xF2.txt"), 0);  // Windows-1250 bytes stay bytes
}

TEST(DosDateTime, PacksLocalTimeAndClamps) {
    EXPECT_EQ(DosDateTime(test::LocalSeconds(2021, 6, 15, 10, 20, 31)),
              ((41u << 9 | 6u << 5 | 15u) << 16) | (10u << 11 | 20u << 5 | 15u));
    EXPECT_EQ(DosDateTime(0), (1u << 5 | 1u) << 16);
    EXPECT_EQ(DosDateTime(test::LocalSeconds(2200, 1, 1, 0, 0, 0)),
              ((127u << 9 | 12u << 5 | 31u) << 16) | (23u << 11 | 59u << 5 | 29u));
}

TEST(EndRecords, Zip64FromTheFirstCountThatDoesNotFit) {
    auto signature = [](const TBytes& b) { return b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24; };
    EXPECT_EQ(signature(EndRecords(65534, 100, 100, 200)), 0x06054b50);
    EXPECT_EQ(signature(EndRecords(65535, 100, 100, 200)), 0x06064b50);
    EXPECT_EQ(signature(EndRecords(1, 0xFFFFFFFFull, 100, 0x100000063ull)), 0x06064b50);
}

TEST(CentralHeader, Zip64ExtraHoldsOnlyTheFieldsThatOverflow) {
    TZipEntry entry;
    entry.Name = "a";
    entry.Size = 5ull << 30;
    entry.CompressedSize = 1000;
    entry.LocalOffset = 6ull << 30;
    const TBytes header = CentralHeader(entry);
    const size_t extra = 46 + 1;
    EXPECT_EQ(header[extra] | header[extra + 1] << 8, 1);
    EXPECT_EQ(header[extra + 2] | header[extra + 3] << 8, 16);  // size and offset, not csize
    EXPECT_EQ(header[20] | header[21] << 8 | header[22] << 16 | header[23] << 24, 1000);
}

}  // namespace
}  // namespace sejfko::zipengine
