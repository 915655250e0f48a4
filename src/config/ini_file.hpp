#pragma once
// An INI file with the semantics of the Windows profile functions: section and key names match
// without regard to ASCII case, the first of duplicate sections or keys wins, values read up to
// 2047 characters, missing sections, keys or files give the caller's default. Each write re-reads
// the file, changes its one key (adding the section or key at need), keeps every other line byte
// for byte and replaces the file atomically with mode 0600, so that two processes writing
// different keys never undo each other. Bad input (binary garbage, huge lines, lines outside any
// section) never crashes a reader and is kept as it is by a writer.

#include <string>
#include <string_view>
#include <vector>

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
    struct TEntry {
        std::string Section;
        std::string Key;
        std::string Value;
    };
    std::vector<TEntry> FEntries;  // first occurrence of each section/key pair
};

class TIniFile {
public:
    explicit TIniFile(std::string fileName);
    const std::string& FileName() const { return FFileName; }

    // Reads the file now; a missing or unreadable file reads as empty.
    TIniSnapshot Read() const;
    std::string ReadString(std::string_view section, std::string_view key,
                           const std::string& defaultValue) const;

    // Throws EIniFileException when the file cannot be written.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);

private:
    std::string FFileName;
};

// The value text `value` at most 2047 characters long, cut at a character boundary of UTF-8.
std::string LimitIniValue(std::string value);

// Integer keys: decimal with optional sign; "0x"/"0X" + hex digits when the text is longer than
// two characters; "$" + hex digits. False when the text does not convert to a 32-bit integer.
bool TryParseIniInteger(std::string_view text, int32_t& value);

}  // namespace sejfko
