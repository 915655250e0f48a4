#pragma once
// The user's selection file: one path per line, exclusions marked by "/Exclude" in the line (any
// ASCII letter case; on POSIX only at the line's start, after a blank, or after a "/" when the
// line ends with the keyword or a blank follows it, since "/" separates names there). Lines end
// with CR LF or LF; a lone CR ends the text of its line; a Ctrl+Z byte ends the file. Entries
// are trimmed of bytes 0..32. A file saved as UTF-16 (with or without a byte order mark) is read
// as such and its entries converted to UTF-8; a UTF-8 byte order mark is skipped.

#include <string>
#include <vector>

#include "backup/file_scan.hpp"

namespace sejfko {

using TStringList = std::vector<std::string>;

enum class TSelectionResult {
    Read,        // the entries were appended
    Unreadable,  // missing, not a regular file, no access, or a read failed part-way
    Refused,     // a line holds a NUL byte: a name cut there would name a different file
};

// Reads `path` line by line (streamed, any line length) and appends the entries in file order;
// on Unreadable or Refused the lists are left as they were. For Refused, `refusal` gets the
// Czech text naming the file and the line (counted from 1). Never throws for the content. Lines
// that trim to nothing add no entry.
TSelectionResult ReadSelectionFile(const std::string& path, TStringList& include,
                                   TStringList& exclude, std::string* refusal = nullptr);

// Removes what the exclusions name from `include`, replacing an include directory above an
// exclusion by its entries (appended at the end, subdirectories with a trailing separator) until
// the excluded path itself is an entry. An exclusion matches only as the expansion writes it (a
// directory with its trailing separator, a file without); names are compared as the platform
// does (exactly on POSIX). A file whose name merely begins the excluded path stays; a directory
// that cannot be listed is dropped. Symlinks the expansion meets are never expanded into: they
// leave `include` (which would follow them) for `links`, in order (dropped when `links` is null),
// to be kept as links. `query` is asked before each entry is looked at. True when not cancelled.
bool ApplyExclusions(TStringList& include, const TStringList& exclude, const TQueryAbort& query,
                     TStringList* links = nullptr);

}  // namespace sejfko
