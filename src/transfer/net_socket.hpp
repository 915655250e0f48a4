#pragma once
// TNetSocketHandle: one stream socket and its local and peer addresses, owned by one connection
// object and used by one thread at a time. Failures raise the exceptions of net_errors.hpp; every
// wait raises ENetSocketError 10004 as soon as its `cancel` event is set.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/socket_api.hpp"

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
    // Shuts the sending direction, closes the socket and clears the addresses.
    void CloseSocket();

    TSocket Handle() const { return FHandle; }
    bool HandleAllocated() const { return FAllocated; }

    std::string IP;
    int Port = 0;
    std::string PeerIP;
    int PeerPort = 0;

private:
    void ReadAddresses();

    TSocket FHandle = InvalidSocket;
    bool FAllocated = false;
};

}  // namespace sejfko
