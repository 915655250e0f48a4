#include "restore/restore_download.hpp"

#include <exception>

#include "platform/file_system.hpp"
#include "transfer/ftp_address.hpp"
#include "transfer/ftp_listing.hpp"
#include "transfer/net_ftp.hpp"

namespace sejfko {

namespace {

// A logged-in client; the connection closes when it goes.
class TServerSession {
public:
    TServerSession(const TServerSource& server, const TCancelEvent* cancel) {
        TFtpAddress address;
        if (!ParseFtpAddress(server.Address, address)) {
            throw ERestoreError("Neplatná adresa serveru \"" + server.Address + "\".");
        }
        FFtp.Host = address.Host;
        FFtp.Port = address.Port;
        FFtp.User = server.User;
        FFtp.Password = server.Password;
        FFtp.Passive = server.Passive;
        FFtp.UseTls = server.Tls;
        FFtp.PinnedFingerprint = server.Certificate;
        FFtp.CancelEvent = cancel;
        Step("se připojit k serveru " + server.Address, [this] { FFtp.Connect(true); });
    }
    ~TServerSession() {
        try {
            FFtp.Disconnect();
        } catch (const std::exception&) {
            // Closing a connection that failed: nothing is left to save.
        }
    }
    TServerSession(const TServerSession&) = delete;
    TServerSession& operator=(const TServerSession&) = delete;

    TNetFTP& Ftp() { return FFtp; }

    // Runs one step of the session; a failure becomes ERestoreError naming the step.
    template <typename TWork>
    void Step(const std::string& step, TWork&& work) {
        try {
            work();
        } catch (const ERestoreError&) {
            throw;
        } catch (const std::exception& failure) {
            throw ERestoreError("Nelze " + step + ": " + failure.what());
        }
    }

private:
    TNetFTP FFtp;
};

std::vector<TArchiveRef> ListArchives(TServerSession& session) {
    std::vector<std::string> listing;
    session.Step("načíst seznam archivů na serveru",
                 [&] { session.Ftp().ListNames(listing, ArchiveMask); });
    // The listing is the server's word: only bare archive names pass, and only names of the
    // generated shape form a chain.
    std::vector<TArchiveRef> archives;
    for (const std::string& name : RemoteArchiveNames(listing)) {
        TArchiveRef ref;
        if (ParseArchiveName(name, ref.Stamp, ref.Full)) {
            ref.Name = name;
            archives.push_back(std::move(ref));
        }
    }
    return archives;
}

void Download(TServerSession& session, std::vector<TArchiveRef>& chain,
              const std::string& directory, const TDownloadEvent& onArchive) {
    for (std::size_t i = 0; i < chain.size(); ++i) {
        if (!chain[i].Path.empty()) {
            continue;  // here already (waiting for transfer)
        }
        const std::string path = IncludeTrailingPathDelimiter(directory) + chain[i].Name;
        if (!FileExists(path)) {
            if (onArchive) {
                onArchive(chain[i].Name, i + 1, chain.size());
            }
            session.Step("stáhnout archiv " + chain[i].Name,
                         [&] { session.Ftp().Get(chain[i].Name, path); });
        }
        chain[i].Path = path;
        chain[i].Size = GetFileStatus(path).Size;
    }
}

}  // namespace

std::vector<TArchiveRef> ListServerArchives(const TServerSource& server,
                                            const TCancelEvent* cancel) {
    TServerSession session(server, cancel);
    return ListArchives(session);
}

void DownloadArchives(const TServerSource& server, std::vector<TArchiveRef>& chain,
                      const std::string& directory, const TDownloadEvent& onArchive,
                      const TCancelEvent* cancel) {
    TServerSession session(server, cancel);
    Download(session, chain, directory, onArchive);
}

std::vector<TArchiveRef> DownloadChain(const TServerSource& server,
                                       const std::optional<std::string>& at,
                                       const std::string& directory,
                                       const TDownloadEvent& onArchive,
                                       const TCancelEvent* cancel) {
    TServerSession session(server, cancel);
    std::vector<TArchiveRef> chain = SelectChain(ListArchives(session), at);
    Download(session, chain, directory, onArchive);
    return chain;
}

}  // namespace sejfko
