// The TLS steps of TNetFTP (explicit FTPS). The password is sent only after the certificate
// passed: a refused "AUTH TLS", a failed handshake or a certificate that neither the pin nor the
// trust store vouches for ends the call while the server has seen nothing but "AUTH TLS". The
// texts name the server's fingerprint, so the user can compare it with the server's own and pin
// it.

#include <stdexcept>

#include "platform/cancel_event.hpp"
#include "transfer/net_errors.hpp"
#include "transfer/net_ftp.hpp"

namespace sejfko {

namespace {

std::string FingerprintText(const TTlsPeerCertificate& certificate) {
    std::string text =
        " Otisk certifikátu serveru (SHA-256): " + FormatFingerprint(certificate.Fingerprint);
    if (!certificate.Subject.empty()) {
        text += ", vlastník: " + certificate.Subject;
    }
    return text + ".";
}

}  // namespace

void TNetFTP::SecureControlConnection(bool judge) {
    try {
        SendCommand("AUTH TLS", 234);
    } catch (const ENetProtocolReplyError& refusal) {
        throw ENetTlsError(std::string("Server odmítl šifrované spojení (AUTH TLS: ") +
                           refusal.what() +
                           "). Heslo nebylo odesláno; bez šifrování se lze přihlásit jen s "
                           "klíčem \"FTP security\" = 0.");
    }
    // Whatever came with the reply was sent in clear text and would pass for the server's
    // word once encrypted: an attacker's injected reply.
    if (!InputBuffer().empty()) {
        throw ENetTlsError(
            "Server poslal za odpovědí na AUTH TLS nešifrovaná data; spojení "
            "bylo ukončeno a heslo nebylo odesláno.");
    }
    try {
        FTlsContext = std::make_unique<TTlsContext>(Host);
    } catch (const std::runtime_error& failure) {
        throw ENetTlsError(failure.what());
    }
    FSocket.StartTls(*FTlsContext, nullptr, Timeouts.Connect, CancelEvent);
    ServerCertificate = FSocket.PeerCertificate();
    if (judge) {
        std::string pinned;
        ParseFingerprint(PinnedFingerprint, pinned);
        JudgeCertificate(pinned);
    }
}

void TNetFTP::JudgeCertificate(const std::string& pinned) const {
    if (!pinned.empty()) {
        if (ServerCertificate.Fingerprint != pinned) {
            throw ENetTlsError(
                "Certifikát serveru neodpovídá otisku uloženému v klíči \"FTP certificate\" (" +
                FormatFingerprint(pinned) + ")." + FingerprintText(ServerCertificate) +
                " Heslo nebylo odesláno.");
        }
        return;
    }
    if (!ServerCertificate.Trusted) {
        throw ENetTlsError("Certifikát serveru není důvěryhodný (" + ServerCertificate.TrustError +
                           ")." + FingerprintText(ServerCertificate) +
                           " Je-li to certifikát vašeho serveru, uložte jeho otisk do klíče "
                           "\"FTP certificate\". Heslo nebylo odesláno.");
    }
}

TTlsPeerCertificate TNetFTP::FetchCertificate() {
    TNetTCPClient::Connect();
    try {
        ReadReply({220});
        SecureControlConnection(false);
    } catch (...) {
        try {
            Disconnect();
        } catch (...) {
        }
        throw;
    }
    TTlsPeerCertificate certificate = ServerCertificate;
    Disconnect();
    return certificate;
}

void TNetFTP::SecureDataConnection(TNetTCPConnection& channel) {
    channel.Socket().StartTls(*FTlsContext, &FSocket, Timeouts.Connect, CancelEvent);
    // The control connection's certificate was judged; a data connection showing another one
    // is not the server's.
    if (channel.Socket().PeerCertificate().Fingerprint != ServerCertificate.Fingerprint) {
        throw ENetTlsError(
            "Datové spojení ukázalo jiný certifikát než řídicí spojení; přenos byl zastaven.");
    }
}

void TNetFTP::EndDataTls(TNetTCPConnection& channel) {
    try {
        channel.Socket().EndTls(Timeouts.Data, CancelEvent);
    } catch (const ENetException&) {
        if (CancelEvent != nullptr && CancelEvent->IsSet()) {
            throw;
        }
    }
}

}  // namespace sejfko
