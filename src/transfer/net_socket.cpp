#include "transfer/net_socket.hpp"

#include "transfer/net_errors.hpp"
#include "transfer/net_stack.hpp"

namespace sejfko {

TNetSocketHandle::~TNetSocketHandle() {
    CloseSocket();
}

void TNetSocketHandle::AllocateSocket() {
    CloseSocket();
    FHandle = SocketCreateStream();
    if (FHandle == InvalidSocket) {
        throw ENetInvalidSocket();
    }
    FAllocated = true;
}

void TNetSocketHandle::Bind() {
    if (SocketBind(FHandle, IP, Port) != 0) {
        if (LastSocketError() == WsaAddressInUse) {
            throw ENetCouldNotBindSocket();
        }
        TNetStack::RaiseSocketError(LastSocketError());
    }
    TNetStack::CheckForSocketError(SocketLocalAddress(FHandle, IP, Port));
}

int TNetSocketHandle::Connect(int timeoutMs, const TCancelEvent* cancel) {
    int result = SocketConnect(FHandle, PeerIP, PeerPort, timeoutMs, cancel);
    if (result == 0) {
        ReadAddresses();
    }
    return result;
}

void TNetSocketHandle::Listen(int backlog) {
    TNetStack::CheckForSocketError(SocketListen(FHandle, backlog));
}

void TNetSocketHandle::Accept(TSocket listener) {
    CloseSocket();
    TSocket accepted = SocketAccept(listener);
    if (accepted == InvalidSocket) {
        TNetStack::RaiseSocketError(LastSocketError());
    }
    FHandle = accepted;
    FAllocated = true;
    ReadAddresses();
}

bool TNetSocketHandle::Readable(int timeoutMs, const TCancelEvent* cancel) {
    if (!FAllocated) {
        throw ENetConnClosedGracefully();
    }
    int result = SocketWaitReadable(FHandle, timeoutMs, cancel);
    TNetStack::CheckForSocketError(result);
    return result > 0;
}

bool TNetSocketHandle::Writable(int timeoutMs, const TCancelEvent* cancel) {
    if (!FAllocated) {
        throw ENetConnClosedGracefully();
    }
    int result = SocketWaitWritable(FHandle, timeoutMs, cancel);
    TNetStack::CheckForSocketError(result);
    return result > 0;
}

std::ptrdiff_t TNetSocketHandle::Send(const void* data, std::size_t size) {
    return SocketSend(FHandle, data, size);
}

std::ptrdiff_t TNetSocketHandle::Receive(void* buffer, std::size_t size) {
    return SocketReceive(FHandle, buffer, size);
}

void TNetSocketHandle::SetNoDelay(bool on) {
    TNetStack::CheckForSocketError(SocketSetNoDelay(FHandle, on));
}

int64_t TNetSocketHandle::Unacknowledged() const {
    return FAllocated ? SocketUnacknowledged(FHandle) : -1;
}

void TNetSocketHandle::CloseSocket() {
    if (!FAllocated) {
        return;
    }
    FAllocated = false;
    // Failures do not matter here: the socket is gone either way.
    SocketShutdownSend(FHandle);
    SocketClose(FHandle);
    FHandle = InvalidSocket;
    IP.clear();
    Port = 0;
    PeerIP.clear();
    PeerPort = 0;
}

void TNetSocketHandle::ReadAddresses() {
    TNetStack::CheckForSocketError(SocketLocalAddress(FHandle, IP, Port));
    TNetStack::CheckForSocketError(SocketPeerAddress(FHandle, PeerIP, PeerPort));
}

}  // namespace sejfko
