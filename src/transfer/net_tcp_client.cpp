#include "transfer/net_tcp_client.hpp"

#include "transfer/net_errors.hpp"
#include "transfer/net_stack.hpp"

namespace sejfko {

void TNetTCPClient::DoOnConnected() {
    if (OnConnected) {
        OnConnected(this);
    }
}

void TNetTCPClient::Connect() {
    if (FSocket.HandleAllocated()) {
        throw ENetAlreadyConnected();
    }
    ResetConnection();
    try {
        FSocket.AllocateSocket();
        FSocket.IP = BoundIP;
        FSocket.Port = 0;
        FSocket.Bind();
        if (!TNetStack::IsIP(Host)) {
            DoStatus(hsResolving, Host);
        }
        FSocket.PeerIP = TNetStack::ResolveHost(Host, CancelEvent);
        FSocket.PeerPort = Port;
        if (!UseNagle) {
            FSocket.SetNoDelay(true);
        }
        DoStatus(hsConnecting, FSocket.PeerIP);
        TNetStack::CheckForSocketError(FSocket.Connect(Timeouts.Connect, CancelEvent));
        PrepareSocket();
    } catch (...) {
        try {
            Disconnect();
        } catch (...) {
            // The connect's own failure is the one to report.
        }
        throw;
    }
    DoStatus(hsConnected);
    DoOnConnected();
}

}  // namespace sejfko
