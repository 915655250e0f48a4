#pragma once
// TNetSocketHandle: one stream socket and its local and peer addresses, owned by one connection
// object and used by one thread at a time. Failures raise the exceptions of net_errors.hpp; every
// wait raises ENetSocketError 10004 as soon as its `cancel` event is set.
//
// Once StartTls succeeded, everything sent and received goes through the TLS channel while the
// layers above keep calling the same operations: Readable answers when decrypted data (or the
// end) is there, not when the socket merely has bytes, and a TLS failure raises ENetTlsError.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/socket_api.hpp"
#include "platform/tls_channel.hpp"

namespace sejfko {

class TNetSocketHandle {
public:
    TNetSocketHandle() = default;
    ~TNetSocketHandle();
    TNetSocketHandle(const TNetSocketHandle&) = delete;
    TNetSocketHandle& operator=(const TNetSocketHandle&) = delete;

    // Closes any socket still held and creates a stream socket (ENetInvalidSocket).
    void AllocateSocket();
    // Binds to IP (empty: any) and Port (0: any), then reads both back. Address in use raises
    // ENetCouldNotBindSocket, other failures ENetSocketError.
    void Bind();
    // Connects to PeerIP:PeerPort within `timeoutMs` (negative: the system's limit). Returns the
    // call's result (-1 on failure, for TNetStack::CheckForSocketError); on success the local
    // and peer addresses are read back.
    int Connect(int timeoutMs, const TCancelEvent* cancel = nullptr);
    void Listen(int backlog);
    // Accepts one connection of `listener` into this handle (ENetSocketError).
    void Accept(TSocket listener);
    // Whether the socket became readable within `timeoutMs` (negative: no limit). Raises
    // ENetConnClosedGracefully when no socket is held.
    bool Readable(int timeoutMs, const TCancelEvent* cancel = nullptr);
    // Whether a send would take data within `timeoutMs` (negative: no limit).
    bool Writable(int timeoutMs, const TCancelEvent* cancel = nullptr);
    // Sends what the socket takes now (-1 with WsaWouldBlock when it takes nothing).
    std::ptrdiff_t Send(const void* data, std::size_t size);
    std::ptrdiff_t Receive(void* buffer, std::size_t size);
    void SetNoDelay(bool on);
    // Bytes sent and not yet acknowledged by the peer; -1 when unknown.
    int64_t Unacknowledged() const;
    // Shuts the sending direction, closes the socket and clears the addresses (a TLS session
    // is ended without waiting).
    void CloseSocket();

    // Encrypts the connection: the TLS handshake within `timeoutMs`, offering the session of
    // `resume` when given. ENetTlsError when TLS fails, ENetSocketError for the socket's failures
    // (10060 when the limit passed, 10004 on a stop).
    void StartTls(const TTlsContext& context, const TNetSocketHandle* resume, int timeoutMs,
                  const TCancelEvent* cancel = nullptr);
    // Ends the TLS session in both directions (what the peer still sends is dropped), within
    // `timeoutMs`; nothing to do without TLS.
    void EndTls(int timeoutMs, const TCancelEvent* cancel = nullptr);
    bool TlsActive() const { return FTls != nullptr; }
    // The server's certificate; only while TlsActive().
    TTlsPeerCertificate PeerCertificate() const;
    bool TlsSessionReused() const;

    TSocket Handle() const { return FHandle; }
    bool HandleAllocated() const { return FAllocated; }

    std::string IP;
    int Port = 0;
    std::string PeerIP;
    int PeerPort = 0;

private:
    void ReadAddresses();
    // A TLS failure of the last call raises ENetTlsError; others are left to the caller.
    void CheckTlsFailure() const;

    TSocket FHandle = InvalidSocket;
    bool FAllocated = false;
    std::unique_ptr<TTlsChannel> FTls;
};

}  // namespace sejfko
