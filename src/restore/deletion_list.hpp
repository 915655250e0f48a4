#pragma once
// The deletion list an incremental archive carries at its root, read as data: never run, never
// extracted. POSIX lists ("!!!!!upd_arch.sh") hold `rm -f -- 'PATH'` lines (UTF-8, LF, PATH as
// stored in the archive, single quotes written as '\''); Windows lists ("!!!!!upd_arch.bat")
// hold "del PATH" lines in code page 852 with CR LF, PATH without its drive letter, with "\"
// separators, "%" doubled and perhaps in double quotes. Both kinds are read on every platform,
// since a chain may be restored elsewhere than it was made.

#include <cstddef>
#include <string>
#include <vector>

namespace sejfko {

constexpr const char* PosixDeletionListName = "!!!!!upd_arch.sh";
constexpr const char* WindowsDeletionListName = "!!!!!upd_arch.bat";

// 0 for an entry that is not a deletion list, 1 for a POSIX list, 2 for a Windows list. Only
// the archive's root holds one.
int DeletionListKind(const std::string& storedName);

// One line without its line end. The path comes out as a stored name ("/" separators, UTF-8),
// still to be checked like any stored name. False for a line of another shape.
bool ParsePosixDeletionLine(const std::string& line, std::string& path);
bool ParseWindowsDeletionLine(const std::string& line, std::string& path);

// Code page 852 text as UTF-8.
std::string Cp852ToUtf8(const std::string& text);

// Takes a list in pieces as it is read from the archive. Empty lines and comment lines ("#",
// such as "#!/bin/sh") are passed over; lines of another shape, and lines longer than
// MaxLineLength (memory stays bounded whatever the list holds), are collected as bad lines.
class TDeletionListParser {
public:
    static constexpr std::size_t MaxLineLength = 64 * 1024;

    explicit TDeletionListParser(bool windows) : FWindows(windows) {}
    void Feed(const char* data, std::size_t size);
    // Takes the last line when the list does not end with a line end.
    void Finish();

    std::vector<std::string> Paths;
    std::vector<std::string> BadLines;  // as read (cut to MaxLineLength)

private:
    void TakeLine();

    bool FWindows;
    std::string FLine;
    bool FOverlong = false;
};

}  // namespace sejfko
