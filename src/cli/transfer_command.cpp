#include "cli/transfer_command.hpp"

#include <exception>

#include "backup/backup_thread.hpp"
#include "cli/foreground_worker.hpp"
#include "config/options.hpp"
#include "platform/tls_channel.hpp"
#include "transfer/ftp_address.hpp"
#include "transfer/net_ftp.hpp"
#include "transfer/transfer_backup.hpp"

namespace sejfko {

int RunTransferCommand(const std::string& configDirectory, std::ostream& out, std::ostream& err,
                       bool errIsTerminal) {
    try {
        Options.Load(configDirectory);
        if (Options.SavingKind() != skRemote) {
            if (Options.FileCountForTransfer() > 0) {
                err << "Zálohy se ukládají místně (\"Saving kind\" = 0), na server se nic "
                       "neposílá.\n";
                return 1;
            }
            out << "Zálohy se ukládají místně, žádný soubor nečeká na přenos.\n";
            return 0;
        }
        TForegroundWorker foreground(configDirectory, err, errIsTerminal);
        if (!foreground.Acquire(err)) {
            return 1;
        }
        TBackupThread& worker = foreground.Worker();
        int sent = 0;
        bool failed = false;
        while (Options.FileCountForTransfer() > 0 && !worker.Terminated()) {
            if (!worker.TransferBackup()) {
                failed = true;
                break;
            }
            ++sent;
        }
        if (foreground.Interrupted()) {
            err << "Přenos byl přerušen.\n";
            return foreground.InterruptedExitCode();
        }
        // A call can fail after its archive reached the server (its local copy could not be
        // deleted): nothing waits then, but the user must hear of it.
        const int waiting = Options.FileCountForTransfer();
        if (failed || waiting > 0) {
            const std::string reason = LastTransferErrorText();
            err << "Přenos selhal" << (reason.empty() ? "" : ": " + reason) << "\n";
            if (waiting > 0) {
                err << "Na přenos čeká souborů: " << waiting << "\n";
            }
            return 1;
        }
        out << "Přeneseno souborů: " << sent << "; na přenos nic nečeká.\n";
        return 0;
    } catch (const std::exception& failure) {
        err << failure.what() << "\n";
        return 1;
    }
}

int RunShowCertificateCommand(const std::string& configDirectory, std::ostream& out,
                              std::ostream& err) {
    try {
        Options.Load(configDirectory);
        TFtpAddress address;
        if (!ParseFtpAddress(Options.RemoteHost(), address)) {
            err << "Neplatná adresa serveru \"" << Options.RemoteHost() << "\".\n";
            return 1;
        }
        TNetFTP ftp;
        ftp.Host = address.Host;
        ftp.Port = address.Port;
        const TTlsPeerCertificate certificate = ftp.FetchCertificate();
        out << "Otisk certifikátu (SHA-256): " << FormatFingerprint(certificate.Fingerprint)
            << "\n";
        out << "Vlastník: " << certificate.Subject << "\n";
        out << "Důvěryhodný podle systému: "
            << (certificate.Trusted ? "ano" : "ne (" + certificate.TrustError + ")") << "\n";
        const std::string stored = Options.FtpCertificate();
        std::string pinned;
        if (stored.empty()) {
            out << "Uložený otisk (\"FTP certificate\"): žádný\n";
        } else if (!ParseFingerprint(stored, pinned)) {
            out << "Uložený otisk (\"FTP certificate\"): neplatný\n";
        } else {
            out << "Uložený otisk (\"FTP certificate\"): "
                << (pinned == certificate.Fingerprint ? "souhlasí" : "nesouhlasí") << "\n";
        }
        return 0;
    } catch (const std::exception& failure) {
        err << "Certifikát serveru nelze získat: " << failure.what() << "\n";
        return 1;
    }
}

}  // namespace sejfko
