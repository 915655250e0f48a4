// UTF-16 selection files: recognition and conversion, judged against glibc's iconv.

#include "backup/selection_encoding.hpp"

#include <gtest/gtest.h>
#include <iconv.h>

#include <random>
#include <string>

namespace sejfko {
namespace {

// `text` converted by iconv from one encoding to another.
std::string Iconv(const std::string& text, const char* from, const char* to) {
    iconv_t cd = iconv_open(to, from);
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string input = text;
    std::string output(input.size() * 4 + 16, '\0');
    char* in = input.data();
    char* out = output.data();
    std::size_t inLeft = input.size();
    std::size_t outLeft = output.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &out, &outLeft), static_cast<std::size_t>(-1));
    iconv_close(cd);
    output.resize(output.size() - outLeft);
    return output;
}

TEST(TextEncodingTest, RecognisesUtf16ByItsMarkOrItsZeroBytes) {
    const std::string paths = "/home/jana/Dokumenty/Účty\r\n/srv/řízení/žluťoučký kůň\r\n";
    struct TCase {
        const char* Name;
        std::string Head;
        TTextEncoding Expected;
        std::size_t Skip;
    };
    const TCase cases[] = {
        {"MarkLE", "\xFF\xFE" + Iconv(paths, "UTF-8", "UTF-16LE"), TTextEncoding::Utf16LE, 2},
        {"MarkBE", "\xFE\xFF" + Iconv(paths, "UTF-8", "UTF-16BE"), TTextEncoding::Utf16BE, 2},
        {"BareLE", Iconv(paths, "UTF-8", "UTF-16LE"), TTextEncoding::Utf16LE, 0},
        {"BareBE", Iconv(paths, "UTF-8", "UTF-16BE"), TTextEncoding::Utf16BE, 0},
        {"ShortLE", std::string("/\0", 2), TTextEncoding::Utf16LE, 0},
        {"Utf8", paths, TTextEncoding::Bytes, 0},
        {"Cp1250", Iconv(paths, "UTF-8", "CP1250"), TTextEncoding::Bytes, 0},
        {"Empty", "", TTextEncoding::Bytes, 0},
        // NUL bytes that are no UTF-16: a stray one, a tail zeroed by a crash, zeros on both
        // sides.
        {"StrayNul", std::string("/a\n/b\0", 6), TTextEncoding::Bytes, 0},
        {"ZeroedTail", "/data\n" + std::string(5000, '\0'), TTextEncoding::Bytes, 0},
    };
    for (const TCase& c : cases) {
        std::size_t skip = 99;
        EXPECT_EQ(DetectTextEncoding(c.Head, skip), c.Expected) << c.Name;
        EXPECT_EQ(skip, c.Skip) << c.Name;
    }
}

TEST(TextEncodingTest, DecodesLikeIconvInPiecesOfAnySize) {
    std::mt19937 random(1250);
    for (int round = 0; round < 300; ++round) {
        // Code points of every UTF-8 length: ASCII, Czech letters, other BMP, astral.
        std::u32string points;
        for (std::size_t n = random() % 200; n > 0; --n) {
            switch (random() % 4) {
                case 0:
                    points.push_back(U'\x01' + random() % 0x7F);
                    break;
                case 1:
                    points.push_back(U"čďěňřšťůžČŘŽáíé"[random() % 15]);
                    break;
                case 2: {
                    char32_t point = 0x800 + random() % (0xFFFE - 0x800);
                    points.push_back(point >= 0xD800 && point <= 0xDFFF ? U'€' : point);
                    break;
                }
                default:
                    points.push_back(0x10000 + random() % 0xFFFFF);
            }
        }
        const std::string utf32(reinterpret_cast<const char*>(points.data()), points.size() * 4);
        const std::string expected = Iconv(utf32, "UTF-32LE", "UTF-8");
        for (const bool bigEndian : {false, true}) {
            const std::string utf16 = Iconv(utf32, "UTF-32LE", bigEndian ? "UTF-16BE" : "UTF-16LE");
            TUtf16Decoder decoder(bigEndian);
            std::string decoded;
            for (std::size_t at = 0; at < utf16.size();) {
                const std::size_t piece =
                    std::min<std::size_t>(1 + random() % 7, utf16.size() - at);
                decoder.Decode(std::string_view(utf16).substr(at, piece), decoded);
                at += piece;
            }
            decoder.Finish(decoded);
            ASSERT_EQ(decoded, expected) << "round " << round << (bigEndian ? " BE" : " LE");
        }
    }
}

TEST(TextEncodingTest, BrokenUnitsBecomeReplacementCharacters) {
    const std::string replacement = "\xEF\xBF\xBD";
    const auto decode = [](const std::string& bytes) {
        TUtf16Decoder decoder(false);
        std::string out;
        decoder.Decode(bytes, out);
        decoder.Finish(out);
        return out;
    };
    // A lone low half, a high half followed by a letter, a high half at the end, an odd byte.
    EXPECT_EQ(decode(std::string("\x00\xDC"
                                 "a\0",
                                 4)),
              replacement + "a");
    EXPECT_EQ(decode(std::string("\x00\xD8"
                                 "a\0",
                                 4)),
              replacement + "a");
    EXPECT_EQ(decode(std::string("a\0\x00\xD8", 4)), "a" + replacement);
    EXPECT_EQ(decode(std::string("a\0b", 3)), "a" + replacement);
    // U+0000 stays a NUL, for the reader to refuse.
    EXPECT_EQ(decode(std::string("a\0\0\0b\0", 6)), std::string("a\0b", 3));
}

}  // namespace
}  // namespace sejfko
