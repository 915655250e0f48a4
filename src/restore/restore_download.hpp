#pragma once
// Restoring from the FTP server of the options: the server's "*.fbk" listing gives the archives,
// the chain for the restore point is chosen among them as among local ones, and only the chain
// is downloaded, each archive appearing in the download directory only once it is complete.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "restore/restore_chain.hpp"

namespace sejfko {

class TCancelEvent;

struct TServerSource {
    std::string Address;  // "Remote host": host[:port]
    std::string User;
    std::string Password;
    bool Passive = false;
    bool Tls = false;         // "FTP security" not 0
    std::string Certificate;  // "FTP certificate": the pinned fingerprint, or empty
};

// Called before each download: the archive's name, its number (from 1) and the chain's length.
using TDownloadEvent =
    std::function<void(const std::string& name, std::size_t index, std::size_t count)>;

// Every wait below ends at once when `cancel` is set; the call then throws ERestoreError and
// the caller, seeing the event set, treats it as a stop. Each call is one connection.

// The archives on the server (names of the generated shape only; no Path, Size unknown). Throws
// ERestoreError for an invalid address or a failed connection or listing (with the client's
// message).
std::vector<TArchiveRef> ListServerArchives(const TServerSource& server,
                                            const TCancelEvent* cancel = nullptr);

// Downloads the archives of `chain` that have no Path and that `directory` (which must exist)
// does not hold yet, and sets their Path and Size. Throws ERestoreError for a failed connection or
// download.
void DownloadArchives(const TServerSource& server, std::vector<TArchiveRef>& chain,
                      const std::string& directory, const TDownloadEvent& onArchive,
                      const TCancelEvent* cancel = nullptr);

// Lists the server's archives, selects the chain for `at` (none = the newest archive) and
// downloads it into `directory`. Returns the chain with local paths. Throws ERestoreError as
// the two above, or when the server holds no suitable chain (as SelectChain).
std::vector<TArchiveRef> DownloadChain(const TServerSource& server,
                                       const std::optional<std::string>& at,
                                       const std::string& directory,
                                       const TDownloadEvent& onArchive,
                                       const TCancelEvent* cancel = nullptr);

}  // namespace sejfko
