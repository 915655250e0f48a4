#include "transfer/net_socket.hpp"

#include <stdexcept>

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
    int result = FTls ? FTls->WaitReadable(timeoutMs, cancel)
                      : SocketWaitReadable(FHandle, timeoutMs, cancel);
    TNetStack::CheckForSocketError(result);
    return result > 0;
}

bool TNetSocketHandle::Writable(int timeoutMs, const TCancelEvent* cancel) {
    if (!FAllocated) {
        throw ENetConnClosedGracefully();
    }
    int result = FTls ? FTls->WaitWritable(timeoutMs, cancel)
                      : SocketWaitWritable(FHandle, timeoutMs, cancel);
    TNetStack::CheckForSocketError(result);
    return result > 0;
}

std::ptrdiff_t TNetSocketHandle::Send(const void* data, std::size_t size) {
    if (!FTls) {
        return SocketSend(FHandle, data, size);
    }
    const std::ptrdiff_t sent = FTls->Send(data, size);
    if (sent < 0) {
        CheckTlsFailure();
    }
    return sent;
}

std::ptrdiff_t TNetSocketHandle::Receive(void* buffer, std::size_t size) {
    if (!FTls) {
        return SocketReceive(FHandle, buffer, size);
    }
    const std::ptrdiff_t received = FTls->Receive(buffer, size);
    if (received < 0) {
        CheckTlsFailure();
    }
    return received;
}

void TNetSocketHandle::StartTls(const TTlsContext& context, const TNetSocketHandle* resume,
                                int timeoutMs, const TCancelEvent* cancel) {
    if (!FAllocated) {
        throw ENetConnClosedGracefully();
    }
    try {
        FTls = std::make_unique<TTlsChannel>(FHandle, context,
                                             resume != nullptr ? resume->FTls.get() : nullptr);
    } catch (const std::runtime_error& failure) {
        throw ENetTlsError(failure.what());
    }
    if (FTls->Handshake(timeoutMs, cancel) != 0) {
        const int error = LastSocketError();
        const std::string text = FTls->ErrorText();
        FTls.reset();
        if (error == TlsProtocolError) {
            throw ENetTlsError("Šifrované spojení se nepodařilo navázat: " + text);
        }
        TNetStack::RaiseSocketError(error);
    }
}

void TNetSocketHandle::EndTls(int timeoutMs, const TCancelEvent* cancel) {
    if (FTls && FTls->Shutdown(timeoutMs, cancel) != 0) {
        CheckTlsFailure();
        TNetStack::RaiseSocketError(LastSocketError());
    }
}

TTlsPeerCertificate TNetSocketHandle::PeerCertificate() const {
    return FTls ? FTls->PeerCertificate() : TTlsPeerCertificate{};
}

bool TNetSocketHandle::TlsSessionReused() const {
    return FTls && FTls->SessionReused();
}

void TNetSocketHandle::CheckTlsFailure() const {
    if (LastSocketError() == TlsProtocolError) {
        throw ENetTlsError("Chyba šifrovaného spojení: " + FTls->ErrorText());
    }
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
    if (FTls) {
        FTls->ShutdownNow();
        FTls.reset();
    }
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
