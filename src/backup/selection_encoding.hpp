#pragma once
// Selection files saved as UTF-16 (Windows editors offer it as "Unicode"): recognised by their
// byte order mark or, without one, by the zero bytes that every Latin letter has in one half of
// its code unit, and converted to UTF-8 in pieces of any size. Anything else is passed on as the
// bytes it is (UTF-8 or an 8-bit code page: file names are bytes).

#include <cstddef>
#include <string>
#include <string_view>

namespace sejfko {

enum class TTextEncoding { Bytes, Utf16LE, Utf16BE };

// Judges the encoding from the first bytes of a file (as many as one read gives, up to 64 KiB).
// `skip` is set to the length of a UTF-16 byte order mark to drop (0 when there is none).
TTextEncoding DetectTextEncoding(std::string_view head, std::size_t& skip);

// Converts a stream of UTF-16 code units to UTF-8, piece by piece: a code unit or a surrogate
// pair split between two pieces is joined. An unpaired surrogate becomes U+FFFD; U+0000 becomes
// a NUL byte (for the reader to refuse).
class TUtf16Decoder {
public:
    explicit TUtf16Decoder(bool bigEndian) : FBigEndian(bigEndian) {}
    // Appends the UTF-8 of `bytes` to `out`.
    void Decode(std::string_view bytes, std::string& out);
    // At the end of the input: a lone byte or surrogate left over becomes U+FFFD.
    void Finish(std::string& out);

private:
    bool FBigEndian;
    int FPendingByte = -1;        // first byte of a code unit split between pieces
    char32_t FHighSurrogate = 0;  // waiting for its low half
};

}  // namespace sejfko
