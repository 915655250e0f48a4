#pragma once
// How the bytes of an INI file split into lines and what each line says; shared by the reader
// and the writer of ini_file.cpp. Lines end with CR LF, LF or CR; only the first 16 KiB of a
// line take part in parsing, while a writer can pass every byte of it on.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sejfko::ini {

// Fills `buffer`: bytes read, 0 at the end, -1 on a read error.
using TReader = std::function<std::ptrdiff_t(char* buffer, std::size_t size)>;
// Receives the bytes of each line as they are read, terminator included.
using TCopy = std::function<void(std::string_view bytes)>;

struct TIniLine {
    std::string Head;  // the first bytes of the line, terminator excluded
    bool Truncated = false;
    std::string Terminator;  // "\r\n", "\n", "\r" or empty at the end of the input
};

// Splits a byte stream into lines in fixed-size chunks.
class TLineSource {
public:
    explicit TLineSource(TReader reader);
    // False at the end of the input (or after a read error: Failed()). `copy`, when set, gets
    // every byte of the line.
    bool Next(TIniLine& line, const TCopy& copy);
    bool Failed() const { return FFailed; }

private:
    bool Fill();
    static void Take(TIniLine& line, std::string_view bytes, const TCopy& copy);

    TReader FReader;
    std::vector<char> FBuffer;
    std::size_t FPos = 0;
    std::size_t FEnd = 0;
    bool FEof = false;
    bool FFailed = false;
};

TReader StringReader(std::string_view content);

enum class TLineKind { Other, Section, Key };

struct TParsedLine {
    TLineKind Kind = TLineKind::Other;
    std::string_view Name;  // section or key
    std::string_view Value;
};

// What the line says. `first`: the file's first line, which may start with a UTF-8 byte order
// mark (editors write one; it is no part of the line's text). A value ends at its first NUL:
// nothing after it is meant, and no path or command may carry one.
TParsedLine ParseLine(std::string_view head, bool truncated, bool first);

// The line "key=value" as the writer stores it: the value up to its first CR, LF or NUL, quoted
// when it would otherwise not read back unchanged.
std::string KeyLine(std::string_view key, std::string_view value);

std::string Lower(std::string_view text);

}  // namespace sejfko::ini
