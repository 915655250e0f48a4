#pragma once
// Archives already on the server whose local copy could not be deleted after the upload. They
// are kept in a small list in the data directory (one bare name per line) so that they are
// never sent again: the oldest name goes first, and one archive that cannot be deleted would
// otherwise be sent on every call while the newer ones wait for ever. Each call tries to delete
// them again first.

#include <string>
#include <vector>

namespace sejfko {

constexpr const char* SentArchivesName = "SentArchives.txt";

class TSentArchives {
public:
    explicit TSentArchives(std::string path) : FPath(std::move(path)) {}

    // The names listed; none when the list is missing or cannot be read (a name then is sent
    // once more: the server's copy is replaced by the same archive).
    std::vector<std::string> Names() const;
    // Adds `name` (replacing the list atomically). EOSError when it cannot be written.
    void Add(const std::string& name) const;
    // Deletes the local copies of the names listed from `directory` where that now succeeds, and
    // lists only those still there. Never throws: what cannot be done now is tried next time.
    void DeleteLocalCopies(const std::string& directory) const;

private:
    void Write(const std::vector<std::string>& names) const;

    std::string FPath;
};

}  // namespace sejfko
