#pragma once
// `sejfko-cli transfer`: sends the archives waiting in the temporary directory now, as the
// worker's series of transfer calls does (one archive per call while "File count for transfer"
// is above 0 and the previous call succeeded), holding the data directory's lock.

#include <ostream>
#include <string>

namespace sejfko {

// Loads the global options from `configDirectory`. Status lines and the upload's progress bar go
// to `err` (redrawn in place when `errIsTerminal`), the outcome to `out`. 0 when nothing is left
// waiting, 1 otherwise (storage not remote with archives counted, another process holds the data
// directory, a transfer failed, or it was interrupted).
int RunTransferCommand(const std::string& configDirectory, std::ostream& out, std::ostream& err,
                       bool errIsTerminal);

// `sejfko-cli transfer --show-certificate`: connects to "Remote host", asks for TLS ("AUTH TLS")
// whatever "FTP security" says, and prints the certificate's SHA-256 fingerprint, its subject,
// whether the system trusts it and whether it matches "FTP certificate". Sends nothing else (no
// login). 0 when a certificate was shown, 1 when none could be fetched (reason on `err`).
int RunShowCertificateCommand(const std::string& configDirectory, std::ostream& out,
                              std::ostream& err);

}  // namespace sejfko
