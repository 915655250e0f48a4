#pragma once
// Which archives a restore uses: the newest complete archive ("_full") at or before the restore
// point, then every later archive up to that point, in name order. Archive names carry their
// stamp ("Backup_yyyymmdd_hhmm[_full].fbk"), so name order is the order they were made in.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_naming.hpp"
#include "platform/exceptions.hpp"

namespace sejfko {

// A restore that cannot start or cannot go on; the message is Czech and complete.
class ERestoreError : public Exception {
public:
    using Exception::Exception;
};

struct TArchiveRef {
    std::string Path;   // where it is read from
    std::string Name;   // file name
    std::string Stamp;  // "yyyymmdd_hhmm"
    bool Full = false;
    int64_t Size = -1;  // bytes; -1 when not known (an archive still on the server)
};

// "YYYY-MM-DD HH:MM" (a valid date and time) as a stamp "yyyymmdd_hhmm"; false otherwise.
bool ParseRestorePoint(const std::string& text, std::string& stamp);
// "yyyymmdd_hhmm" shown as "YYYY-MM-DD HH:MM".
std::string FormatStamp(const std::string& stamp);

// The archives of `sources`: each a directory (its files named as archives; other files are
// left alone) or an archive file named so. When two sources hold the same name, the first
// given is used. Throws ERestoreError for a source that is missing, cannot be listed, or is a
// file not named as an archive.
std::vector<TArchiveRef> CollectArchives(const std::vector<std::string>& sources);

// The points in time that can be restored, oldest first: every complete archive and every
// archive after the first complete one (an incremental archive before it has nothing to build
// on). The chain of a point is SelectChain(archives, point.Stamp).
std::vector<TArchiveRef> RestorePoints(std::vector<TArchiveRef> archives);

// The chain for the restore point `at` (a stamp; none = the newest archive). Throws
// ERestoreError when there are no archives or no complete archive at or before `at`.
std::vector<TArchiveRef> SelectChain(std::vector<TArchiveRef> archives,
                                     const std::optional<std::string>& at);

}  // namespace sejfko
