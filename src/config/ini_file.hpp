#pragma once
// An INI file with the semantics of the Windows profile functions: section and key names match
// without regard to ASCII case, the first of duplicate sections or keys wins, values read up to
// 2047 characters, missing sections, keys or files give the caller's default. Each write takes
// a cross-process lock, reads the file once, changes its one key (adding the section or key at
// need), keeps every other line byte for byte and replaces the file atomically, so that two
// processes writing different keys never undo each other. Bad input (binary garbage, huge
// lines, lines outside any section) never crashes a reader and is kept as it is by a writer.
//
// Lines end with CR LF, LF or CR; a UTF-8 byte order mark before the first line is skipped by
// the reader and kept by the writer. A value is the text after the first "=", without
// surrounding blanks, up to its first NUL; one pair of matching quotes around it is removed, and
// the writer adds such a pair when the value would otherwise not read back unchanged
// (surrounding blanks, quotes at both ends). A value is written up to its first CR, LF or NUL,
// since those would end or corrupt the line. Only the first 16 KiB of a line take part in
// matching; longer lines are kept but never match.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/exceptions.hpp"
#include "platform/file_identity.hpp"

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

    bool FFirstLine = true;
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
    // As Read, but false (and an empty snapshot) when the file exists and cannot be read whole.
    bool TryRead(TIniSnapshot& snapshot) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           const std::string& defaultValue) const;

    // True when the file is not the one this object last read or wrote: someone else (another
    // process, an editor) replaced, changed, created or removed it since, or it was never read.
    bool Changed() const;

    // Creates the file's directory when missing, takes the cross-process lock ("<file>.lock"
    // beside it), reads the file once, and renames the file with the one key changed into place.
    // A symlinked file is written through the link: its target is replaced. The new file keeps
    // the old one's permission bits and, as far as the caller may, its owner (a new file is
    // 0600). When the file changes while it is being rewritten, the write starts over from the
    // new content. Throws EIniFileException when the file cannot be written: also when the file
    // itself is not writable by the caller (a writable directory is not enough), when an
    // existing file cannot be read (replacing it would lose its other keys) or keeps changing;
    // the old file is then left as it was.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);

private:
    // One read-change-replace; false when the file changed meanwhile and nothing was replaced.
    bool TryWrite(std::string_view section, std::string_view key, std::string_view value);
    void SetSeen(const TFileIdentity& identity) const;

    std::string FFileName;
    mutable std::mutex FSeenLock;
    // The file as this object last read or wrote it; unknown before the first reading.
    mutable std::optional<TFileIdentity> FSeen;
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
