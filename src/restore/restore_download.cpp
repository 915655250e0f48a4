#include "restore/restore_download.hpp"

#include <exception>

#include "platform/file_system.hpp"
#include "transfer/ftp_address.hpp"
#include "transfer/ftp_listing.hpp"
#include "transfer/net_ftp.hpp"

namespace sejfko {

std::vector<TArchiveRef> DownloadChain(const TServerSource& server,
                                       const std::optional<std::string>& at,
                                       const std::string& directory,
                                       const TDownloadEvent& onArchive) {
    TFtpAddress address;
    if (!ParseFtpAddress(server.Address, address)) {
        throw ERestoreError("Neplatná adresa serveru \"" + server.Address + "\".");
    }
    TNetFTP ftp;
    ftp.Host = address.Host;
    ftp.Port = address.Port;
    ftp.User = server.User;
    ftp.Password = server.Password;
    ftp.Passive = server.Passive;
    ftp.UseTls = server.Tls;
    ftp.PinnedFingerprint = server.Certificate;
    std::vector<TArchiveRef> chain;
    std::string step = "se připojit k serveru " + server.Address;
    try {
        ftp.Connect(true);
        step = "načíst seznam archivů na serveru";
        std::vector<std::string> listing;
        ftp.ListNames(listing, ArchiveMask);
        // The listing is the server's word: only bare archive names pass, and only names of
        // the generated shape form a chain.
        std::vector<TArchiveRef> archives;
        for (const std::string& name : RemoteArchiveNames(listing)) {
            TArchiveRef ref;
            if (ParseArchiveName(name, ref.Stamp, ref.Full)) {
                ref.Name = name;
                archives.push_back(std::move(ref));
            }
        }
        chain = SelectChain(std::move(archives), at);
        for (std::size_t i = 0; i < chain.size(); ++i) {
            if (onArchive) {
                onArchive(chain[i].Name, i + 1, chain.size());
            }
            step = "stáhnout archiv " + chain[i].Name;
            chain[i].Path = IncludeTrailingPathDelimiter(directory) + chain[i].Name;
            ftp.Get(chain[i].Name, chain[i].Path);
        }
    } catch (const ERestoreError&) {
        ftp.Disconnect();
        throw;
    } catch (const std::exception& failure) {
        ftp.Disconnect();
        throw ERestoreError("Nelze " + step + ": " + failure.what());
    }
    ftp.Disconnect();
    return chain;
}

}  // namespace sejfko
