#include "backup/selection_encoding.hpp"

namespace sejfko {

namespace {

constexpr char32_t Replacement = 0xFFFD;

void AppendUtf8(char32_t code, std::string& out) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

TTextEncoding DetectTextEncoding(std::string_view head, std::size_t& skip) {
    skip = 0;
    if (head.starts_with("\xFF\xFE")) {
        skip = 2;
        return TTextEncoding::Utf16LE;
    }
    if (head.starts_with("\xFE\xFF")) {
        skip = 2;
        return TTextEncoding::Utf16BE;
    }
    // Paths are mostly ASCII letters, digits and "/": in UTF-16 one byte of nearly every code
    // unit is zero (at least every other one, however many Czech letters), always the same one.
    // A text of bytes with a stray NUL (or one zeroed by a crash) has few zeros, or zeros on both
    // sides.
    const std::size_t units = head.size() / 2;
    std::size_t zeroLow = 0;   // first byte of a unit
    std::size_t zeroHigh = 0;  // second byte
    for (std::size_t i = 0; i < units; ++i) {
        zeroLow += head[2 * i] == '\0' ? 1 : 0;
        zeroHigh += head[2 * i + 1] == '\0' ? 1 : 0;
    }
    auto dominant = [units](std::size_t zeros, std::size_t other) {
        return zeros > 0 && zeros * 2 >= units && other * 8 < zeros;
    };
    if (dominant(zeroHigh, zeroLow)) {
        return TTextEncoding::Utf16LE;
    }
    if (dominant(zeroLow, zeroHigh)) {
        return TTextEncoding::Utf16BE;
    }
    return TTextEncoding::Bytes;
}

void TUtf16Decoder::Decode(std::string_view bytes, std::string& out) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        unsigned first = 0;
        if (FPendingByte >= 0) {
            first = static_cast<unsigned>(FPendingByte);
            FPendingByte = -1;
        } else {
            first = static_cast<unsigned char>(bytes[i++]);
            if (i == bytes.size()) {
                FPendingByte = static_cast<int>(first);
                return;
            }
        }
        const unsigned second = static_cast<unsigned char>(bytes[i++]);
        const char32_t unit = FBigEndian ? (first << 8) | second : (second << 8) | first;
        if (FHighSurrogate != 0) {
            if (IsLowSurrogate(unit)) {
                AppendUtf8(0x10000 + ((FHighSurrogate - 0xD800) << 10) + (unit - 0xDC00), out);
                FHighSurrogate = 0;
                continue;
            }
            AppendUtf8(Replacement, out);
            FHighSurrogate = 0;
        }
        if (IsHighSurrogate(unit)) {
            FHighSurrogate = unit;
        } else if (IsLowSurrogate(unit)) {
            AppendUtf8(Replacement, out);
        } else {
            AppendUtf8(unit, out);
        }
    }
}

void TUtf16Decoder::Finish(std::string& out) {
    if (FHighSurrogate != 0 || FPendingByte >= 0) {
        AppendUtf8(Replacement, out);
    }
    FHighSurrogate = 0;
    FPendingByte = -1;
}

}  // namespace sejfko
