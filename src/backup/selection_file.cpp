// The selection file is read in fixed chunks, so a huge line or a huge file costs memory only
// for the entries it yields. Bytes are kept as they are (invalid UTF-8 included): the entries
// are file names, and file names are bytes. Only NUL cannot be part of a name: every call on a
// path would end there (a UTF-16 file read as bytes turned each line into "/", the whole file
// system), so a line holding one refuses the file.

#include "backup/selection_file.hpp"

#include <iterator>
#include <optional>
#include <string_view>

#include "backup/selection_encoding.hpp"
#include "platform/file_io.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

namespace {

constexpr char CtrlZ = 0x1A;
constexpr std::string_view ExcludeKeyword = "/EXCLUDE";
constexpr std::size_t ChunkSize = 64 * 1024;
constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsTrimmed(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsTrimmed(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Where "/" separates names (POSIX), "/exclude..." inside a path is the start of a name such as
// "/home/u/Excluded", not the keyword: a path turned into an exclusion of its parent would leave
// that whole parent out of the backup. There the keyword counts only at the start of the line or
// after a blank or control byte. Elsewhere a path cannot hold "/", and it counts anywhere.
constexpr bool KeywordInsideNames = PathDelimiter != '/';

// Position of the first keyword, compared in ASCII upper case only, or npos.
std::size_t FindKeyword(std::string_view line) {
    if (line.size() < ExcludeKeyword.size()) {
        return std::string_view::npos;
    }
    for (std::size_t at = 0; at + ExcludeKeyword.size() <= line.size(); ++at) {
        std::size_t k = 0;
        while (k < ExcludeKeyword.size() && AsciiUpper(line[at + k]) == ExcludeKeyword[k]) {
            ++k;
        }
        if (k != ExcludeKeyword.size()) {
            continue;
        }
        if (KeywordInsideNames || at == 0 || IsTrimmed(line[at - 1])) {
            return at;
        }
        // "/data/Temp//Exclude": written without the blank, right after the directory's
        // separator. A name that merely begins so ("//Excluded") goes on as a name.
        const std::size_t after = at + ExcludeKeyword.size();
        if (line[at - 1] == PathDelimiter && (after == line.size() || IsTrimmed(line[after]))) {
            return at;
        }
    }
    return std::string_view::npos;
}

// An entry that trims to nothing names nothing; kept, it would be a substring of every
// exclusion and have the root directory listed in its place.
void AddLine(std::string_view line, TStringList& include, TStringList& exclude) {
    if (line.empty()) {
        return;
    }
    const std::size_t keyword = FindKeyword(line);
    const std::string_view entry =
        Trim(keyword == std::string_view::npos ? line : line.substr(0, keyword));
    if (entry.empty()) {
        return;
    }
    (keyword == std::string_view::npos ? include : exclude).emplace_back(entry);
}

}  // namespace

TSelectionResult ReadSelectionFile(const std::string& path, TStringList& include,
                                   TStringList& exclude, std::string* refusal) {
    TReadFile file;
    if (!file.Open(path)) {
        return TSelectionResult::Unreadable;
    }
    TStringList newInclude;
    TStringList newExclude;
    std::string line;
    bool skipping = false;  // after a lone CR: the rest of the physical line is not text
    bool first = true;
    bool nulInLine = false;
    long lineNumber = 1;
    const auto addLine = [&] {
        std::string_view text = line;
        // Editors that save UTF-8 may start the file with a byte order mark; left in place it
        // would make the first entry a name that does not exist, and its files silently missed.
        if (first && text.starts_with(Utf8ByteOrderMark)) {
            text.remove_prefix(Utf8ByteOrderMark.size());
        }
        first = false;
        AddLine(text, newInclude, newExclude);
        line.clear();
    };
    const auto refuse = [&] {
        if (refusal != nullptr) {
            *refusal = "Soubor s výběrem '" + path + "' obsahuje na řádku " +
                       std::to_string(lineNumber) +
                       " nulový znak (NUL), záloha nebyla provedena. Uložte ho jako prostý text.";
        }
        return TSelectionResult::Refused;
    };
    // False at Ctrl+Z or at a line with NUL (then nulInLine is set).
    const auto takeBytes = [&](std::string_view bytes) {
        for (const char c : bytes) {
            if (c == CtrlZ) {
                return false;
            }
            if (c == '\n') {
                if (nulInLine) {
                    return false;
                }
                addLine();
                skipping = false;
                ++lineNumber;
            } else if (c == '\r') {
                skipping = true;
            } else if (!skipping) {
                nulInLine = nulInLine || c == '\0';
                line.push_back(c);
            }
        }
        return true;
    };

    std::string chunk(ChunkSize, '\0');
    std::string decoded;
    std::optional<TUtf16Decoder> decoder;
    bool open = true;
    for (bool firstChunk = true; open; firstChunk = false) {
        const std::ptrdiff_t count = file.Read(chunk.data(), chunk.size());
        if (count < 0) {
            // Half a selection would pass for the whole one (and count the rest as deleted).
            return TSelectionResult::Unreadable;
        }
        std::string_view bytes(chunk.data(), static_cast<std::size_t>(count));
        if (firstChunk) {
            std::size_t skip = 0;
            const TTextEncoding encoding = DetectTextEncoding(bytes, skip);
            if (encoding != TTextEncoding::Bytes) {
                decoder.emplace(encoding == TTextEncoding::Utf16BE);
            }
            bytes.remove_prefix(skip);
        }
        if (decoder) {
            decoded.clear();
            decoder->Decode(bytes, decoded);
            if (count == 0) {
                decoder->Finish(decoded);
            }
            bytes = decoded;
        }
        open = takeBytes(bytes) && count > 0;
    }
    if (nulInLine) {
        return refuse();
    }
    addLine();
    include.insert(include.end(), std::make_move_iterator(newInclude.begin()),
                   std::make_move_iterator(newInclude.end()));
    exclude.insert(exclude.end(), std::make_move_iterator(newExclude.begin()),
                   std::make_move_iterator(newExclude.end()));
    return TSelectionResult::Read;
}

}  // namespace sejfko
