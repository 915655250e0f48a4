#pragma once
// TNetFTP: the FTP client of the transfer. It logs in on its control connection and opens one
// data connection per upload, download or listing: active (the client listens, the server
// connects; the default) or passive ("PASV"; the client connects, always to the control
// connection's peer, whatever address the server names). Command texts are sent exactly as
// servers have always seen them from this program, partly lowercase ("user ", "pass ",
// "type ", "syst", "nlst "). No QUIT is ever sent: Disconnect closes the connection.
//
// One thread uses an object at a time; every call blocks it, bounded by Timeouts. The work
// events of the client (and its CancelEvent) are copied to each data connection when it opens, so
// a handler sees the progress of uploads and downloads and may throw to stop them, and a stop
// request ends the data connection's waits too. Failures: ENetProtocolReplyError
// for a refused step (message: the server's line), ENetSocketError, ENetConnClosedGracefully,
// ENetInvalidReply, EOSError for a local file. A failure during a data transfer leaves the
// completion reply unread: only Disconnect is safe afterwards.
//
// With UseTls the client speaks explicit FTPS (RFC 4217): "AUTH TLS" right after the greeting
// (only 234 is accepted: a refusal fails the call with ENetTlsError, never a login in clear
// text), the TLS handshake, the certificate judged (PinnedFingerprint, else the system's trust
// store and Host) before the login is sent, then after the login "PBSZ 0" and "PROT P"; every
// data connection, active or passive, does its own handshake as the TLS client once the server
// accepted the command, resuming the control connection's session, and must show the same
// certificate. Without UseTls not a byte on the wire changes.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transfer/net_tcp_client.hpp"

namespace sejfko {

enum TNetFTPTransferType : uint8_t { ftBinary = 0, ftASCII = 1 };

// A listing longer than either raises ENetInvalidReply ("Listing too long.").
constexpr std::size_t MaxListingBytes = 16 * 1024 * 1024;
constexpr std::size_t MaxListingLines = 1000000;

class TNetFTP : public TNetTCPClient {
public:
    // Port 21, active mode, binary type.
    TNetFTP();
    ~TNetFTP() override;

    // Opens the control connection and reads the greeting (220); with `autoLogin` logs in, then
    // sends the type and "syst". Any failure closes the connection and is passed on.
    void Connect(bool autoLogin);
    void Connect() override { Connect(true); }
    // "user " (230 or 331), and only after 331 "pass " (230).
    void Login();
    // "DELE " and the name (250).
    void Delete(const std::string& name);
    // "RNFR " (350), then "RNTO " (250).
    void Rename(const std::string& from, const std::string& to);
    // Uploads the local file (opened before any command is sent) with "STOR " (or "APPE ").
    void Put(const std::string& localPath, const std::string& remoteName, bool append = false);
    // Downloads with "RETR " into `localPath`, which appears (or is replaced) only when the
    // server confirmed the whole file.
    void Get(const std::string& remoteName, const std::string& localPath);
    // "nlst " (or "list " with `details`) and the specifier, trimmed; the listing, one entry per
    // line, replaces `entries`.
    void List(std::vector<std::string>& entries, const std::string& specifier = "",
              bool details = false);
    // List without details; a server refusing the specifier (450 or 550, as some refuse
    // wildcards) is asked again with a bare "nlst". Callers filter the names themselves.
    void ListNames(std::vector<std::string>& entries, const std::string& specifier);

    TNetFTPTransferType TransferType() const { return FTransferType; }
    // Stored when no data connection is open; sent at once when connected.
    void SetTransferType(TNetFTPTransferType value);
    TNetTCPConnection* DataChannel() const { return FDataChannel.get(); }
    // Connects, reads the greeting, sends "AUTH TLS" and does the handshake, and disconnects:
    // the server's certificate, unjudged. Nothing else is sent. Failures as Connect's.
    TTlsPeerCertificate FetchCertificate();

    std::string User;
    std::string Password;
    bool Passive = false;
    std::string SystemDesc;
    bool UseTls = false;
    // The SHA-256 fingerprint the server's certificate must have, as the user wrote it (see
    // ParseFingerprint); empty: the system's trust store and the host name decide. A text that
    // is no fingerprint fails Connect with ENetTlsError before anything is sent.
    std::string PinnedFingerprint;
    // The control connection's certificate, after a Connect with UseTls.
    TTlsPeerCertificate ServerCertificate;

private:
    template <typename TWork>
    void TransferData(const std::string& command, TWork&& work, int completionTimeoutMs);
    void OpenPassive(const std::string& command);
    void OpenActive(const std::string& command);
    void CopyEventsTo(TNetTCPConnection& channel) const;
    void SendTransferType();
    // "AUTH TLS" and the handshake on the control connection; with `judge` the certificate must
    // pass (ENetTlsError with its fingerprint otherwise).
    void SecureControlConnection(bool judge);
    void JudgeCertificate(const std::string& pinned) const;
    // The data connection's handshake, once the server accepted the data command.
    void SecureDataConnection(TNetTCPConnection& channel);
    // The data connection's TLS session ended in both directions; its failures are left to the
    // completion reply, which tells whether the server has everything.
    void EndDataTls(TNetTCPConnection& channel);

    TNetFTPTransferType FTransferType = ftBinary;
    std::unique_ptr<TNetTCPConnection> FDataChannel;
    bool FDataCommandRefused = false;
    std::unique_ptr<TTlsContext> FTlsContext;
};

// "PORT " and the address and port as the command carries them ("192,168,1,5,19,137").
std::string PortCommandText(const std::string& ip, int port);
// The port of a 227 reply's "h1,h2,h3,h4,p1,p2"; false when the line holds no such numbers.
bool ParsePassiveReply(const std::string& line, int& port);

}  // namespace sejfko
