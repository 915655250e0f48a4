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

// Lists the server's archives, selects the chain for `at` (none = the newest archive) and
// downloads it into `directory` (which must exist). Returns the chain with local paths. Throws
// ERestoreError for an invalid address, a failed connection, listing or download (with the
// client's message), or when the server holds no suitable chain (as SelectChain).
std::vector<TArchiveRef> DownloadChain(const TServerSource& server,
                                       const std::optional<std::string>& at,
                                       const std::string& directory,
                                       const TDownloadEvent& onArchive);

}  // namespace sejfko
