#pragma once
// The newest archive name issued, kept in a one-line file of the data directory. Archives leave
// the directory they were made in (uploaded, pruned, moved by the user), so looking there alone
// could issue a name twice, and a later archive of that name would replace the earlier one on
// the server. Every new name is later than the one recorded.

#include <string>

namespace sejfko {

constexpr const char* ArchiveNameRecordName = "LastArchiveName.txt";

class TArchiveNameRecord {
public:
    explicit TArchiveNameRecord(std::string path) : FPath(std::move(path)) {}

    // The stamp ("yyyymmdd_hhmm") of the name recorded; empty when there is none. A record that
    // cannot be read or parsed counts as none: the archives still present are then the only
    // guard, as before any record existed.
    std::string LastStamp() const;
    // Records the archive file name `name` (without directory), replacing the file atomically.
    // EOSError when it cannot be written.
    void Store(const std::string& name) const;

    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

}  // namespace sejfko
