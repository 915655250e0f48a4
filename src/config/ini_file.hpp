#pragma once
// An INI file with the semantics of the Windows profile functions: section and key names match
// without regard to ASCII case, the first of duplicate sections or keys wins, values read up to
// 2047 characters, missing sections, keys or files give the caller's default. Each write re-reads
// the file, changes its one key (adding the section or key at need), keeps every other line byte
// for byte and replaces the file atomically with mode 0600, so that two processes writing
// different keys never undo each other. Bad input (binary garbage, huge lines, lines outside any
// section) never crashes a reader and is kept as it is by a writer.
//
// Lines end with CR LF, LF or CR. A value is the text after the first "=", without surrounding
// blanks; one pair of matching quotes around it is removed, and the writer adds such a pair when
// the value would otherwise not read back unchanged (surrounding blanks, quotes at both ends).
// A value is written up to its first CR, LF or NUL, since those would end or corrupt the line.
// Only the first 16 KiB of a line take part in matching; longer lines are kept but never match.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/exceptions.hpp"

namespace sejfko {

// "Unable to write to %s" with the file's path.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

// The parsed content of one INI file at one moment.
class TIniSnapshot {
public:
    TIniSnapshot() = default;
    explicit TIniSnapshot(std::string_view content);
    // False when the section or key is missing.
    bool Find(std::string_view section, std::string_view key, std::string& value) const;

private:
    friend class TIniFile;
    // Takes the next line (its first bytes, `truncated` when it was longer).
    void AddLine(std::string_view head, bool truncated);

    // Keyed by lower-case section, "\n", lower-case key; first occurrence only.
    std::unordered_map<std::string, std::string> FValues;
    std::unordered_set<std::string> FSections;  // lower-case names seen so far
    std::string FCurrentSection;                // lower-case; empty before the first section
    bool FInSection = false;  // false before the first section and inside duplicates
};

class TIniFile {
public:
    explicit TIniFile(std::string fileName);
    const std::string& FileName() const { return FFileName; }

    // Reads the file now; a missing or unreadable file reads as empty. Safe from any thread.
    TIniSnapshot Read() const;
    std::string ReadString(std::string_view section, std::string_view key,
                           const std::string& defaultValue) const;

    // Creates the file's directory when missing, takes the cross-process lock ("<file>.lock"
    // beside it), rewrites the file with the one key changed and renames it into place. Throws
    // EIniFileException when the file cannot be written, also when an existing file cannot be
    // read (replacing it would lose its other keys); the old file is then left as it was.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);

private:
    std::string FFileName;
};

// Section and key names match without regard to ASCII case.
bool SameIniName(std::string_view a, std::string_view b);

// The value text `value` at most 2047 characters long, cut at a character boundary of UTF-8.
std::string LimitIniValue(std::string value);

// Integer keys: decimal with optional sign; "0x"/"0X" + hex digits when the text is longer than
// two characters; "$" + hex digits; surrounding blanks allowed. False when the text does not
// convert to a 32-bit integer.
bool TryParseIniInteger(std::string_view text, int32_t& value);

}  // namespace sejfko
