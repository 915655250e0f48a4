#pragma once
// Where the archive job puts its archive: the destination rules and the generated names
// ("Backup_yyyymmdd_hhmm[_full].fbk").

#include <string>

#include "platform/date_time.hpp"

namespace sejfko {

// True when `destination` names a directory rather than the archive itself: it exists as a
// directory, ends with a separator, or has no "." after its last separator. Only the last rule
// looks at dots, so a directory such as "~/.zalohy" stays a directory once it exists or is
// written with a trailing separator.
bool IsDirectoryDestination(const std::string& destination);

// `path` made absolute against the current directory (unchanged when already absolute).
std::string AbsolutePath(const std::string& path);

// "Backup_" + stamp + ("_full" when `full`) + ".fbk".
std::string ArchiveFileName(const std::string& stamp, bool full);

// True for "Backup_yyyymmdd_hhmm.fbk" and "Backup_yyyymmdd_hhmm_full.fbk" (digits checked, the
// date and time not); fills `stamp` and `full`.
bool ParseArchiveName(const std::string& name, std::string& stamp, bool& full);

// The archive name in `directory` (absolute, with or without a trailing separator) for a run at
// `now`: the minute of `now`, or the first minute later than `after` (a stamp
// "yyyymmdd_hhmm"; empty for none) when that is later, moved on while an archive of either kind
// already carries the stamp. So no run replaces an archive made earlier, and names sort in the
// order they were made even when the clock was set back.
std::string GenerateArchiveName(const std::string& directory, TDateTime now, bool full,
                                const std::string& after = {});

}  // namespace sejfko
