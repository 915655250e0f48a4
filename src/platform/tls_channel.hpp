#pragma once
// TLS client channels over a connected stream socket (OpenSSL). The socket is made
// non-blocking; every call that has to wait for the peer does so through the socket waits of
// socket_api.hpp, with a time limit and the cancel event, so a stop request or an expired limit
// ends a handshake, a read or a write as it ends any other network wait (-1 with
// WsaInterrupted or WsaTimedOut). A failure of TLS itself (handshake refused, a damaged record)
// is -1 with TlsProtocolError and the reason in ErrorText().
//
// The certificate is not judged during the handshake: the handshake completes whatever the
// server shows, and PeerCertificate() says what it was and whether the system's trust store and
// the host name vouch for it, so that the caller decides (a pinned fingerprint may overrule the
// store) before it sends anything. One thread uses a channel at a time.

#include <cstddef>
#include <memory>
#include <string>

#include "platform/socket_api.hpp"

namespace sejfko {

class TCancelEvent;

// A TLS failure that is not one of the socket's (outside the Windows Sockets numbers).
constexpr int TlsProtocolError = 20000;

// The server's certificate as a handshake found it.
struct TTlsPeerCertificate {
    std::string Fingerprint;  // SHA-256 of its DER form, 64 lowercase hex digits
    std::string Subject;      // one line, "CN=...,O=..."
    bool Trusted = false;     // the chain ends in the system's trust store and names the host
    std::string TrustError;   // why not (OpenSSL's text); empty when Trusted
};

// Settings shared by a control connection and its data connections: the host name the
// certificate must name (a dotted address is checked as an address) and the system's trust store.
class TTlsContext {
public:
    // Raises std::runtime_error when OpenSSL cannot set up a client context.
    explicit TTlsContext(const std::string& hostName);
    ~TTlsContext();
    TTlsContext(const TTlsContext&) = delete;
    TTlsContext& operator=(const TTlsContext&) = delete;

    void* Native() const { return FContext; }
    const std::string& HostName() const { return FHostName; }

private:
    void* FContext = nullptr;
    std::string FHostName;
};

class TTlsChannel {
public:
    // Takes `socket` (connected; the caller still owns and closes it) and prepares a client
    // session; with `resume`, the handshake offers that channel's session, as servers demand
    // for data connections. Sends nothing yet. Raises std::runtime_error when OpenSSL fails.
    TTlsChannel(TSocket socket, const TTlsContext& context, const TTlsChannel* resume = nullptr);
    ~TTlsChannel();
    TTlsChannel(const TTlsChannel&) = delete;
    TTlsChannel& operator=(const TTlsChannel&) = delete;

    // 0 when the handshake completed within `timeoutMs` (negative: no limit); -1 with
    // LastSocketError() otherwise.
    int Handshake(int timeoutMs, const TCancelEvent* cancel = nullptr);
    // As SocketWaitReadable: 1 when Receive has data (or the peer's end, or a failure) to give
    // at once, 0 when `timeoutMs` passed, -1 on failure.
    int WaitReadable(int timeoutMs, const TCancelEvent* cancel = nullptr);
    // As SocketWaitWritable (a write that waits for the peer's data waits for readability).
    int WaitWritable(int timeoutMs, const TCancelEvent* cancel = nullptr);
    // What the channel takes now; -1 with WsaWouldBlock when it takes nothing yet. After that
    // the next Send must offer the same bytes again (at least as many; as TLS demands), which
    // is what a caller retrying its unsent rest does.
    std::ptrdiff_t Send(const void* data, std::size_t size);
    // Decrypted bytes; 0 when the peer ended the session (or closed the connection).
    std::ptrdiff_t Receive(void* buffer, std::size_t size);
    // Sends the end of the session and waits within `timeoutMs` until the peer ends it too (or
    // closes), reading and dropping what it still sends. 0 on success.
    int Shutdown(int timeoutMs, const TCancelEvent* cancel = nullptr);
    // Sends the end of the session if the socket takes it now; never waits.
    void ShutdownNow();

    TTlsPeerCertificate PeerCertificate() const;
    bool SessionReused() const;
    // The protocol version agreed ("TLSv1.3").
    std::string Version() const;
    const std::string& ErrorText() const { return FErrorText; }

private:
    // Turns an OpenSSL result into: 1 done, 0 wait (FWantWrite tells which way), -1 failed.
    int Classify(int result);

    void* FSsl = nullptr;
    TSocket FSocket = InvalidSocket;
    bool FWantWrite = false;
    bool FWriteWantsRead = false;
    bool FEnded = false;
    bool FFailed = false;
    int FFailure = 0;
    std::string FErrorText;
};

// "AB:CD:..." of 64 hex digits; anything else is returned unchanged.
std::string FormatFingerprint(const std::string& hex);
// 64 lowercase hex digits from the user's text (hex digits in any case, with colons, blanks or
// dashes between them); false when the text is not a SHA-256 fingerprint.
bool ParseFingerprint(const std::string& text, std::string& hex);

}  // namespace sejfko
