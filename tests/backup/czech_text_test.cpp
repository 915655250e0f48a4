#include "backup/czech_text.hpp"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "backup/windows1250.hpp"

namespace sejfko {
namespace {

// The 44 letters in column order, in UTF-8.
const char* const Letters[CzechLetterCount] = {
    "Č", "ü", "é", "ď", "ä", "Ď", "Ť", "č", "ě", "Ě", "Ĺ", "Í", "ľ", "ĺ", "Ä",
    "Á", "É", "ž", "Ž", "ô", "ö", "Ó", "ů", "Ú", "ý", "Ö", "Ü", "Š", "Ľ", "Ý",
    "Ř", "ť", "á", "í", "ó", "ú", "ň", "Ň", "Ů", "Ô", "š", "ř", "ŕ", "Ŕ"};

std::string Row(int row) {
    return std::string(reinterpret_cast<const char*>(CzechTable[row]), CzechLetterCount);
}

// One UTF-8 letter in `encoding`, through the C library's converter.
std::string Encode(const char* encoding, const std::string& utf8) {
    iconv_t converter = iconv_open(encoding, "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "iconv has no " << encoding;
        return {};
    }
    std::string in = utf8;
    std::string out(16, '\0');
    char* inPointer = in.data();
    std::size_t inLeft = in.size();
    char* outPointer = out.data();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
    iconv_close(converter);
    EXPECT_NE(result, static_cast<std::size_t>(-1)) << utf8 << " in " << encoding;
    out.resize(out.size() - outLeft);
    return out;
}

struct TEncodedRow {
    int Row;
    const char* Encoding;
};

class CzechTableEncodingTest : public testing::TestWithParam<TEncodedRow> {};

TEST_P(CzechTableEncodingTest, RowHoldsEachLetterAsTheEncodingWritesIt) {
    const TEncodedRow& param = GetParam();
    for (int column = 0; column < CzechLetterCount; ++column) {
        const std::string expected = Encode(param.Encoding, Letters[column]);
        ASSERT_EQ(expected.size(), 1u) << Letters[column];
        EXPECT_EQ(CzechTable[param.Row][column], static_cast<uint8_t>(expected[0]))
            << "row " << param.Row << ", letter " << Letters[column];
    }
}

INSTANTIATE_TEST_SUITE_P(Iconv, CzechTableEncodingTest,
                         testing::Values(TEncodedRow{2, "CP852"}, TEncodedRow{3, "CP1250"},
                                         TEncodedRow{4, "ISO-8859-2"},
                                         TEncodedRow{6, "MAC-CENTRALEUROPE"}),
                         [](const testing::TestParamInfo<TEncodedRow>& info) {
                             return "Row" + std::to_string(info.param.Row);
                         });

TEST(CzechTableTest, GivenRowsAsWritten) {
    EXPECT_EQ(Row(0), "CuedaDTceELIllAAEzZooOuUyOUSLYRtaiounNUOsrrR");
    for (int column = 0; column < CzechLetterCount; ++column) {
        EXPECT_EQ(CzechTable[1][column], 0x80 + column);
    }
    const uint8_t koi8cs[CzechLetterCount] = {
        0xe3, 0xc8, 0xd7, 0xc4, 0xd1, 0xe4, 0xf4, 0xc3, 0xc5, 0xe5, 0xeb, 0xe9, 0xcc, 0xcb, 0xf1,
        0xe1, 0xf7, 0xda, 0xfa, 0xd0, 0xcd, 0xef, 0xca, 0xf5, 0xd9, 0xed, 0xe8, 0xf3, 0xec, 0xf9,
        0xf2, 0xd4, 0xc1, 0xc9, 0xcf, 0xd5, 0xce, 0xee, 0xea, 0xf0, 0xd3, 0xd2, 0xc6, 0xe6};
    for (int column = 0; column < CzechLetterCount; ++column) {
        EXPECT_EQ(CzechTable[5][column], koi8cs[column]) << column;
    }
}

TEST(ConvertCzechTextTest, Windows1250ToCodePage852) {
    std::string text = "C:\\P\xF8\xEDloha \xE8.1\\x.txt";  // Příloha č.1
    ConvertCzechText(3, 2, text);
    EXPECT_EQ(text, "C:\\P\xFD\xA1loha \x9F.1\\x.txt");
}

TEST(ConvertCzechTextTest, EveryLetterRoundTripsBetweenTheEightBitRows) {
    for (uint8_t from = 1; from < CzechRowCount; ++from) {
        for (uint8_t to = 1; to < CzechRowCount; ++to) {
            std::string text = Row(from);
            ConvertCzechText(from, to, text);
            EXPECT_EQ(text, Row(to)) << int(from) << " -> " << int(to);
        }
    }
}

TEST(ConvertCzechTextTest, OtherBytesAndEqualRowsUnchanged) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte) {
        all.push_back(static_cast<char>(byte));
    }
    std::string same = all;
    ConvertCzechText(3, 3, same);
    EXPECT_EQ(same, all);

    std::string text = all;
    ConvertCzechText(3, 2, text);
    const std::string windows = Row(3);
    for (int byte = 0; byte < 256; ++byte) {
        if (windows.find(static_cast<char>(byte)) == std::string::npos) {
            EXPECT_EQ(static_cast<uint8_t>(text[byte]), byte);
        }
    }
    std::string ascii = "plain ASCII / 0123";
    ConvertCzechText(3, 2, ascii);
    EXPECT_EQ(ascii, "plain ASCII / 0123");
}

TEST(ConvertCzechTextTest, ByteInSeveralColumnsTakesTheFirst) {
    // 'e' stands for é (column 2) and ě (column 8) in the ASCII row; é wins.
    std::string text = "e";
    ConvertCzechText(0, 3, text);
    EXPECT_EQ(text, "\xE9");
    // A row out of range changes nothing rather than reading past the table.
    std::string untouched = "\xF8";
    ConvertCzechText(3, 9, untouched);
    EXPECT_EQ(untouched, "\xF8");
}

// Every byte of Windows-1250 that iconv knows comes back from its UTF-8; the undefined bytes,
// characters the code page lacks and broken UTF-8 are refused.
TEST(Utf8ToWindows1250Test, AgreesWithIconvOnEveryByte) {
    iconv_t decoder = iconv_open("UTF-8", "CP1250");
    ASSERT_NE(decoder, reinterpret_cast<iconv_t>(-1));
    int defined = 0;
    for (int byte = 0x80; byte < 0x100; ++byte) {
        char in[1] = {static_cast<char>(byte)};
        char out[8];
        char* inPointer = in;
        std::size_t inLeft = 1;
        char* outPointer = out;
        std::size_t outLeft = sizeof out;
        if (iconv(decoder, &inPointer, &inLeft, &outPointer, &outLeft) == static_cast<size_t>(-1)) {
            iconv(decoder, nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        ++defined;
        const std::string utf8(out, sizeof out - outLeft);
        std::string converted;
        ASSERT_TRUE(Utf8ToWindows1250("x/" + utf8, converted)) << byte;
        EXPECT_EQ(converted, std::string("x/") + static_cast<char>(byte));
    }
    iconv_close(decoder);
    EXPECT_EQ(defined, 123);

    std::string converted;
    EXPECT_TRUE(Utf8ToWindows1250("C:\\P\xC5\x99\xC3\xADloha", converted));
    EXPECT_EQ(converted, "C:\\P\xF8\xEDloha");
    for (const char* refused : {"\xE4\xB8\xAD", "\xC3\xB8", "\xC5", "\xC0\xAF", "\xED\xA0\x80",
                                "\xF4\x90\x80\x80", "\xFF"}) {
        EXPECT_FALSE(Utf8ToWindows1250(std::string("a") + refused, converted)) << refused;
    }
}

}  // namespace
}  // namespace sejfko
