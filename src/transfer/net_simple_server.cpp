#include "transfer/net_simple_server.hpp"

#include <chrono>

#include "platform/socket_api.hpp"
#include "transfer/net_errors.hpp"

namespace sejfko {

TNetSimpleServer::~TNetSimpleServer() = default;

void TNetSimpleServer::Abort() {
    FAbortRequested = true;
}

void TNetSimpleServer::ResetConnection() {
    TNetTCPConnection::ResetConnection();
    FAbortRequested = false;
    FListening = false;
}

void TNetSimpleServer::BeginListen() {
    ResetConnection();
    FListener.AllocateSocket();
    FListener.IP = BoundIP;
    FListener.Port = BoundPort;
    FListener.Bind();
    FListener.Listen(1);
    FListening = true;
}

void TNetSimpleServer::AcceptConnection(const std::string& expectedPeerIP) {
    struct TCloseListener {
        TNetSimpleServer& Server;
        ~TCloseListener() {
            Server.FListener.CloseSocket();
            Server.FListening = false;
        }
    } closeListener{*this};
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(Timeouts.Accept);
    // Waits in short slices so that an Abort from this thread's own handlers is seen soon (a stop
    // from another thread, CancelEvent, ends the wait itself); the whole wait stays bounded.
    const int slice = AcceptWait > 0 ? AcceptWait : Timeouts.AcceptPoll;
    for (;;) {
        if (FAbortRequested) {
            throw ENetSocketError(WsaInterrupted);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            throw ENetSocketError(WsaTimedOut);
        }
        if (!FListener.Readable(static_cast<int>(std::min<int64_t>(left, slice)), CancelEvent)) {
            continue;
        }
        FSocket.Accept(FListener.Handle());
        if (expectedPeerIP.empty() || FSocket.PeerIP == expectedPeerIP) {
            break;
        }
        // Someone else raced the server to our port: never take data from them.
        FSocket.CloseSocket();
    }
    PrepareSocket();
}

}  // namespace sejfko
